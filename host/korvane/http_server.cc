// The one translation unit that includes Beast: sessions for plain and TLS
// streams share one template, the listener and the shutdown sequence.
#include "http_server.h"

#include <openssl/ssl.h>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "console/console_assets.h"
#include "metrics.h"

namespace korvane {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// What the shutdown sequence needs to reach every live connection.
class SessionBase : public std::enable_shared_from_this<SessionBase> {
  public:
    virtual ~SessionBase() = default;
    // Thread-safe: closes the connection if it is waiting for a request;
    // one in flight is answered first and then closed.
    virtual void Stop() = 0;
};

}  // namespace

struct HttpServer::Impl {
    Impl(const HttpServerOptions &o, PostHandler &h, Metrics &m)
        : options(o), handler(h), metrics(m) {}

    void Register(const std::shared_ptr<SessionBase> &session) {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        sessions.emplace(session.get(), session);
    }
    void Unregister(SessionBase *session) {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        sessions.erase(session);
    }
    std::size_t SessionCount() {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        return sessions.size();
    }
    // Takes `bytes` from the body budget; false (nothing taken) when they
    // do not fit.
    bool TakeBodyBytes(std::uint64_t bytes) {
        std::size_t held = bodiesHeld.load(std::memory_order_relaxed);
        do {
            if (bytes > options.bodyBudget - held) return false;
        } while (!bodiesHeld.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
        return true;
    }
    void ReturnBodyBytes(std::size_t bytes) {
        bodiesHeld.fetch_sub(bytes, std::memory_order_relaxed);
    }

    void DoAccept();
    void OnAccept(error_code ec, tcp::socket socket);
    void BeginShutdown();

    const HttpServerOptions options;
    PostHandler &handler;
    Metrics &metrics;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> bodiesHeld{0};

    // Declared before the io_context: handlers destroyed with it may still
    // unregister their sessions.
    std::mutex sessionsMutex;
    std::unordered_map<SessionBase *, std::weak_ptr<SessionBase>> sessions;
    std::optional<ssl::context> tls;

    net::io_context ioc;
    net::strand<net::io_context::executor_type> acceptStrand{net::make_strand(ioc)};
    tcp::acceptor acceptor{acceptStrand};
    net::signal_set signals{acceptStrand};
    net::steady_timer acceptRetry{acceptStrand};
    // Declared after the io_context: jobs still running post their answers to it.
    std::optional<net::thread_pool> workers;

    std::mutex shutdownMutex;
    std::condition_variable shutdownDone;
    bool finished = false;
    std::thread watchdog;
};

namespace {

constexpr std::size_t kDrainChunk = 64 * 1024;

// The path of an origin-form or absolute-form ("http://host/path") target,
// without the query.
std::string_view PathOf(beast::string_view target) {
    std::string_view path(target.data(), target.size());
    for (std::string_view scheme : {"http://", "https://"}) {
        if (path.size() > scheme.size() && beast::iequals(path.substr(0, scheme.size()), scheme)) {
            path.remove_prefix(scheme.size());
            path.remove_prefix(std::min(path.find_first_of("/?"), path.size()));
            break;
        }
    }
    return path.substr(0, path.find('?'));
}

// True when the body's length can be told without guessing: no
// Transfer-Encoding at all, or exactly one coding, "chunked", without a
// Content-Length, in HTTP/1.1.
bool FramingIsSound(const http::request_parser<http::string_body>::value_type &request) {
    const auto [first, last] = request.equal_range(http::field::transfer_encoding);
    if (first == last) return true;
    std::size_t codings = 0;
    bool chunked = false;
    for (auto field = first; field != last; ++field) {
        std::string_view list = field->value();
        while (!list.empty()) {
            const std::size_t comma = std::min(list.find(','), list.size());
            std::string_view coding = list.substr(0, comma);
            list.remove_prefix(std::min(comma + 1, list.size()));
            coding.remove_prefix(std::min(coding.find_first_not_of(" \t"), coding.size()));
            coding = coding.substr(0, coding.find_last_not_of(" \t") + 1);
            if (coding.empty()) continue;
            ++codings;
            chunked = beast::iequals(coding, "chunked");
        }
    }
    return codings == 1 && chunked && request.version() == 11 &&
           !request.count(http::field::content_length);
}

// Body bytes taken from the server's budget; handed back on destruction.
class BodyLease {
  public:
    explicit BodyLease(HttpServer::Impl &server) : m_server(server) {}
    ~BodyLease() { Return(); }
    BodyLease(BodyLease &&other) noexcept : m_server(other.m_server), m_bytes(other.m_bytes) {
        other.m_bytes = 0;
    }
    BodyLease &operator=(const BodyLease &) = delete;

    bool Grow(std::uint64_t bytes) {
        if (!m_server.TakeBodyBytes(bytes)) return false;
        m_bytes += static_cast<std::size_t>(bytes);
        return true;
    }
    void Return() {
        m_server.ReturnBodyBytes(m_bytes);
        m_bytes = 0;
    }

  private:
    HttpServer::Impl &m_server;
    std::size_t m_bytes = 0;
};

// One connection. Derived supplies stream(), Start() and CloseStream().
template <class Derived>
class Session : public SessionBase {
  public:
    Session(HttpServer::Impl &server, std::string remote)
        : m_server(server), m_remote(std::move(remote)), m_lease(server) {
        // A chunked body is charged chunk by chunk, before the chunk is read.
        m_onChunk = [this](std::uint64_t size, beast::string_view, error_code &ec) {
            if (!m_lease.Grow(size)) {
                m_overBudget = true;
                ec = net::error::no_buffer_space;
            }
        };
    }
    ~Session() override { m_server.Unregister(this); }

    void Stop() override {
        net::post(Self().stream().get_executor(), [self = Shared()] {
            if (self->m_waiting) beast::get_lowest_layer(self->stream()).cancel();
        });
    }

  protected:
    Derived &Self() { return static_cast<Derived &>(*this); }
    std::shared_ptr<Derived> Shared() {
        return std::static_pointer_cast<Derived>(this->shared_from_this());
    }
    auto &stream() { return Self().stream(); }
    beast::tcp_stream &Lowest() { return beast::get_lowest_layer(stream()); }
    std::chrono::milliseconds Timeout() const { return m_server.options.timeout; }

    void ReadRequest() {
        if (m_server.stopping) return Self().CloseStream();
        m_parser.emplace();
        m_overBudget = false;
        m_parser->on_chunk_header(m_onChunk);
        m_parser->body_limit(m_server.options.bodyLimit);
        m_parser->header_limit(static_cast<std::uint32_t>(m_server.options.headerLimit));
        m_waiting = true;
        Lowest().expires_after(Timeout());
        http::async_read_header(
            stream(), m_buffer, *m_parser,
            [self = Shared()](error_code ec, std::size_t) { self->OnHeader(ec); });
    }

    beast::flat_buffer m_buffer;
    HttpServer::Impl &m_server;

  private:
    void OnHeader(error_code ec) {
        m_waiting = false;
        if (ec) return OnReadError(ec);
        const auto &request = m_parser->get();
        m_version = request.version();
        if (!FramingIsSound(request))
            return SendError(http::status::bad_request, "unsupported Transfer-Encoding\n");
        const std::size_t hosts = request.count(http::field::host);
        if (hosts > 1 || (hosts == 0 && request.version() >= 11))
            return SendError(http::status::bad_request, "missing or repeated Host header\n");
        if (const auto length = m_parser->content_length(); length && !m_lease.Grow(*length))
            return SendBusy();
        if (beast::iequals(request[http::field::expect], "100-continue") && !m_parser->is_done()) {
            // The client waits for a go-ahead before it sends a large body.
            auto go = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                         request.version());
            Lowest().expires_after(Timeout());
            http::async_write(stream(), *go, [self = Shared(), go](error_code ec, std::size_t) {
                if (ec) return self->Self().CloseStream();
                self->ReadBody();
            });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        Lowest().expires_after(Timeout());
        http::async_read(stream(), m_buffer, *m_parser,
                         [self = Shared()](error_code ec, std::size_t) { self->OnBody(ec); });
    }

    void OnBody(error_code ec) {
        if (ec) return OnReadError(ec);
        HandleRequest(m_parser->release());
    }

    void OnReadError(error_code ec) {
        m_lease.Return();
        if (m_overBudget) return SendBusy();
        if (ec == http::error::body_limit)
            return SendError(http::status::payload_too_large,
                             "request body larger than " +
                                 std::to_string(m_server.options.bodyLimit) + " bytes\n");
        if (ec == http::error::header_limit)
            return SendError(http::status::request_header_fields_too_large,
                             "request header too large\n");
        if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message)
            return SendError(http::status::bad_request, "malformed HTTP request\n");
        // End of stream, timeout, reset, cancellation by Stop: nothing to
        // answer and nothing worth waiting for.
        error_code ignored;
        Lowest().socket().close(ignored);
    }

    void HandleRequest(http::request<http::string_body> request) {
        // Held until the body is freed: the end of this call, or of the job.
        auto lease = std::make_shared<BodyLease>(std::move(m_lease));
        m_keepAlive = request.keep_alive();
        const std::string_view path = PathOf(request.target());
        const auto method = request.method();
        if (method == http::verb::get || method == http::verb::head) {
            m_headOnly = method == http::verb::head;
            if (path == "/health")
                return SendReply({200, "text/plain; charset=utf-8", "ok\n", false});
            if (path == "/metrics")
                return SendReply({200, "text/plain; version=0.0.4; charset=utf-8",
                                  m_server.metrics.Render(), false});
            if (const ConsoleFile *file =
                    m_server.options.console ? FindConsoleFile(path) : nullptr) {
                m_consoleHeaders = true;
                return SendReply(
                    {200, std::string(file->contentType), std::string(file->body), false});
            }
            return SendReply({404, "text/plain", "not found\n", false});
        }
        if (method != http::verb::post) {
            m_allowHeader = true;
            return SendReply({405, "text/plain", "method not allowed\n", false});
        }

        // The job keeps the io_context running until its answer is posted back.
        auto work = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
            m_server.ioc.get_executor());
        auto body = std::make_shared<std::string>(std::move(request.body()));
        auto target = std::make_shared<std::string>(path);
        net::post(*m_server.workers, [self = Shared(), work, body, target, lease]() mutable {
            auto reply = std::make_shared<HttpReply>();
            try {
                *reply = self->m_server.handler.Post(*target, *body, self->m_remote);
            } catch (const std::exception &) {
                *reply = {500, "text/plain", "internal error\n", false};
            }
            // The body is done with before the client can see the answer.
            body.reset();
            lease.reset();
            net::post(self->stream().get_executor(),
                      [self, work, reply] { self->SendReply(std::move(*reply)); });
        });
    }

    void SendError(http::status status, std::string text) {
        m_keepAlive = false;
        SendReply({static_cast<unsigned>(status), "text/plain", std::move(text), false});
    }

    void SendBusy() {
        SendError(http::status::service_unavailable,
                  "request bodies in progress exceed " +
                      std::to_string(m_server.options.bodyBudget) + " bytes; try again later\n");
    }

    void SendReply(HttpReply reply) {
        m_server.metrics.RecordHttpStatus(reply.raw ? 200 : reply.status);
        Lowest().expires_after(Timeout());
        if (reply.raw) {
            // The plug-in's own status line and headers ("Connection: close").
            auto bytes = std::make_shared<std::string>(std::move(reply.body));
            net::async_write(
                stream(), net::buffer(*bytes),
                [self = Shared(), bytes](error_code, std::size_t) { self->Self().CloseStream(); });
            return;
        }
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(reply.status), m_version ? m_version : 11);
        response->set(http::field::server, "korvane-host");
        response->set(http::field::content_type, reply.contentType);
        if (std::exchange(m_consoleHeaders, false))
            for (const auto &[name, value] : kConsoleHeaders) response->set(name, value);
        if (m_allowHeader) response->set(http::field::allow, "GET, HEAD, POST");
        m_allowHeader = false;
        response->body() = std::move(reply.body);
        response->keep_alive(m_keepAlive && !m_server.stopping);
        response->prepare_payload();
        auto then = [self = Shared(), response](error_code ec, std::size_t) {
            if (ec || !response->keep_alive()) return self->Self().CloseStream();
            self->ReadRequest();
        };
        if (std::exchange(m_headOnly, false)) {
            // The header GET would send, Content-Length included.
            auto header = std::make_shared<http::response_serializer<http::string_body>>(*response);
            http::async_write_header(stream(), *header,
                                     [header, then = std::move(then)](
                                         error_code ec, std::size_t n) mutable { then(ec, n); });
            return;
        }
        http::async_write(stream(), *response, std::move(then));
    }

    const std::string m_remote;
    std::optional<http::request_parser<http::string_body>> m_parser;
    unsigned m_version = 11;
    bool m_keepAlive = false;
    bool m_allowHeader = false;
    bool m_consoleHeaders = false;
    bool m_waiting = false;
    bool m_headOnly = false;
    BodyLease m_lease;
    bool m_overBudget = false;
    std::function<void(std::uint64_t, beast::string_view, error_code &)> m_onChunk;
};

class PlainSession : public Session<PlainSession> {
  public:
    PlainSession(HttpServer::Impl &server, tcp::socket &&socket, std::string remote)
        : Session(server, std::move(remote)), m_stream(std::move(socket)) {}

    beast::tcp_stream &stream() { return m_stream; }

    void Start() {
        net::dispatch(m_stream.get_executor(), [self = Shared()] { self->ReadRequest(); });
    }

    // Half-close, then read until the client closes too, so that bytes it
    // is still sending cannot turn into a reset that destroys our answer.
    void CloseStream() {
        error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_drain.resize(kDrainChunk);
        m_stream.expires_after(std::min(Timeout(), std::chrono::milliseconds(2000)));
        Drain();
    }

  private:
    void Drain() {
        m_stream.async_read_some(net::buffer(m_drain),
                                 [self = Shared()](error_code ec, std::size_t) {
                                     if (!ec) return self->Drain();
                                     error_code ignored;
                                     self->m_stream.socket().close(ignored);
                                 });
    }

    beast::tcp_stream m_stream;
    std::vector<char> m_drain;
};

class TlsSession : public Session<TlsSession> {
  public:
    TlsSession(HttpServer::Impl &server, tcp::socket &&socket, std::string remote)
        : Session(server, std::move(remote)), m_stream(std::move(socket), *server.tls) {}

    beast::ssl_stream<beast::tcp_stream> &stream() { return m_stream; }

    void Start() {
        net::dispatch(m_stream.get_executor(), [self = Shared()] {
            self->Lowest().expires_after(self->Timeout());
            self->m_stream.async_handshake(ssl::stream_base::server, self->m_buffer.data(),
                                           [self](error_code ec, std::size_t used) {
                                               if (ec) {
                                                   error_code ignored;
                                                   self->Lowest().socket().close(ignored);
                                                   return;
                                               }
                                               self->m_buffer.consume(used);
                                               self->ReadRequest();
                                           });
        });
    }

    void CloseStream() {
        Lowest().expires_after(std::min(Timeout(), std::chrono::milliseconds(2000)));
        m_stream.async_shutdown([self = Shared()](error_code) {
            error_code ignored;
            self->Lowest().socket().close(ignored);
        });
    }

  private:
    beast::ssl_stream<beast::tcp_stream> m_stream;
};

}  // namespace

void HttpServer::Impl::DoAccept() {
    acceptor.async_accept(net::make_strand(ioc), [this](error_code ec, tcp::socket socket) {
        OnAccept(ec, std::move(socket));
    });
}

void HttpServer::Impl::OnAccept(error_code ec, tcp::socket socket) {
    if (stopping || !acceptor.is_open()) return;
    if (ec) {
        // Out of descriptors and the like: try again shortly instead of spinning.
        acceptRetry.expires_after(std::chrono::milliseconds(50));
        acceptRetry.async_wait([this](error_code waitError) {
            if (!waitError) DoAccept();
        });
        return;
    }
    if (SessionCount() >= options.maxConnections) {
        error_code ignored;
        socket.close(ignored);
        return DoAccept();
    }
    error_code endpointError;
    const auto peer = socket.remote_endpoint(endpointError);
    std::string remote = endpointError ? std::string() : peer.address().to_string();
    socket.set_option(tcp::no_delay(true), endpointError);
    if (tls) {
        auto session = std::make_shared<TlsSession>(*this, std::move(socket), std::move(remote));
        Register(session);
        session->Start();
    } else {
        auto session = std::make_shared<PlainSession>(*this, std::move(socket), std::move(remote));
        Register(session);
        session->Start();
    }
    DoAccept();
}

void HttpServer::Impl::BeginShutdown() {
    if (stopping.exchange(true)) return;
    error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    std::vector<std::weak_ptr<SessionBase>> live;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        for (const auto &[key, session] : sessions) live.push_back(session);
    }
    for (const auto &weak : live)
        if (auto session = weak.lock()) session->Stop();
    // Requests that do not finish within the grace period are abandoned.
    watchdog = std::thread([this] {
        std::unique_lock<std::mutex> lock(shutdownMutex);
        if (!shutdownDone.wait_for(lock, options.shutdownGrace, [this] { return finished; }))
            ioc.stop();
    });
}

HttpServer::HttpServer(const HttpServerOptions &options, PostHandler &handler, Metrics &metrics)
    : m_impl(std::make_unique<Impl>(options, handler, metrics)) {}

HttpServer::~HttpServer() {
    if (m_impl->watchdog.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_impl->shutdownMutex);
            m_impl->finished = true;
        }
        m_impl->shutdownDone.notify_all();
        m_impl->watchdog.join();
    }
}

bool HttpServer::Open(std::string &error) {
    Impl &impl = *m_impl;
    try {
        if (!impl.options.tlsCert.empty() || !impl.options.tlsKey.empty()) {
            impl.tls.emplace(ssl::context::tls_server);
            impl.tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                                  ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                                  ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
            if (SSL_CTX_set_min_proto_version(impl.tls->native_handle(), TLS1_2_VERSION) != 1) {
                error = "cannot require TLS 1.2";
                return false;
            }
            impl.tls->use_certificate_chain_file(impl.options.tlsCert);
            impl.tls->use_private_key_file(impl.options.tlsKey, ssl::context::pem);
        }
    } catch (const boost::system::system_error &e) {
        error = "TLS set-up failed (" + impl.options.tlsCert + ", " + impl.options.tlsKey +
                "): " + e.what();
        return false;
    }

    error_code ec;
    const auto address = net::ip::make_address(impl.options.host, ec);
    if (ec) {
        error = "bad listen host '" + impl.options.host + "': " + ec.message();
        return false;
    }
    const tcp::endpoint endpoint(address, impl.options.port);
    impl.acceptor.open(endpoint.protocol(), ec);
    if (!ec) impl.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) impl.acceptor.bind(endpoint, ec);
    if (!ec) impl.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + impl.options.host + ":" + std::to_string(impl.options.port) +
                ": " + ec.message();
        return false;
    }
    impl.signals.add(SIGINT, ec);
    if (!ec) impl.signals.add(SIGTERM, ec);
    if (ec) {
        error = "cannot catch signals: " + ec.message();
        return false;
    }
    return true;
}

std::string HttpServer::LocalAddress() const {
    error_code ec;
    const auto endpoint = m_impl->acceptor.local_endpoint(ec);
    if (ec) return {};
    const auto address = endpoint.address();
    const std::string host =
        address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(endpoint.port());
}

void HttpServer::Run() {
    Impl &impl = *m_impl;
    impl.workers.emplace(std::max(1u, impl.options.workerThreads));
    impl.signals.async_wait([&impl](error_code ec, int) {
        if (!ec) impl.BeginShutdown();
    });
    net::dispatch(impl.acceptStrand, [&impl] { impl.DoAccept(); });

    std::vector<std::thread> threads;
    for (unsigned i = 1; i < impl.options.ioThreads; ++i)
        threads.emplace_back([&impl] { impl.ioc.run(); });
    impl.ioc.run();
    for (std::thread &thread : threads) thread.join();
    // Jobs abandoned by a forced stop still finish before the plug-in goes.
    impl.workers->join();
}

}  // namespace korvane
