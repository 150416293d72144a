// The HTTP/1.1 (and HTTPS) front of `korvane-host serve`, on Boost.Beast.
// POST requests are handed to a PostHandler on a pool of worker threads;
// GET (or HEAD) /health, /metrics and the web console's files are answered
// on the I/O threads.
// Requests whose body framing is ambiguous (a transfer coding other than one
// "chunked", or one beside Content-Length) and HTTP/1.1 requests without
// exactly one Host get 400 and the connection is closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korvane {

class Metrics;

struct HttpServerOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 8080;
    unsigned ioThreads = 1;
    unsigned workerThreads = 1;
    // Larger request bodies are refused with 413.
    std::size_t bodyLimit = std::size_t{16} << 20;
    std::size_t headerLimit = std::size_t{64} << 10;
    // Bytes of request bodies held at once, over all connections, from the
    // header that announces them (or each chunk's header) until the request
    // is answered. A request that would pass it gets 503 and is closed.
    std::size_t bodyBudget = std::size_t{256} << 20;
    // Bound on waiting for and reading one request (header, then body) and
    // on writing one response; a client slower than this is disconnected.
    std::chrono::milliseconds timeout{30000};
    // After SIGINT/SIGTERM, requests in flight get this long to finish.
    std::chrono::milliseconds shutdownGrace{10000};
    std::size_t maxConnections = 10000;
    // Both set: serve HTTPS (TLS 1.2 and later) with this PEM certificate
    // chain and private key.
    std::string tlsCert;
    std::string tlsKey;
    // Serve the web console (GET / and its files); off, those paths get 404.
    bool console = true;
};

struct HttpReply {
    unsigned status = 200;
    std::string contentType;
    std::string body;
    // The body is a complete HTTP response (status line and headers
    // included): it is sent as it is and the connection is closed.
    bool raw = false;
};

class PostHandler {
  public:
    virtual ~PostHandler() = default;
    // Runs on a worker thread, possibly on several at once.
    virtual HttpReply Post(const std::string &target, const std::string &body,
                           const std::string &remoteAddress) = 0;
};

class HttpServer {
  public:
    HttpServer(const HttpServerOptions &options, PostHandler &handler, Metrics &metrics);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Sets up TLS (when configured), binds and listens, and starts catching
    // SIGINT and SIGTERM. False with `error` set.
    bool Open(std::string &error);
    // The bound address as HOST:PORT (the real port when 0 was asked for).
    std::string LocalAddress() const;
    // Serves until SIGINT or SIGTERM, then stops accepting, lets requests in
    // flight finish (at most the shutdown grace) and returns.
    void Run();

    struct Impl;  // defined with the connection code

  private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace korvane
