#include "krypa/error_stack.h"

#include <openssl/err.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "krypa/krypa.h"

namespace {

struct Entry {
    int32_t code = 0;
    int32_t line = 0;
    char message[160] = {};
    char file[96] = {};
    char module[96] = {};
};

// Fixed-size and trivially destructible: a thread-local object with a
// destructor would keep the plug-in that holds this library from unloading
// while any thread that once failed a call is alive. Texts are copied in, cut
// to their field, so an entry never points into memory it does not own.
struct Stack {
    std::array<Entry, KRYPA_ERROR_DEPTH_MAX> entries;
    int32_t depth = 0;
};

constinit thread_local Stack t_stack;

template <std::size_t N>
void CopyText(char (&field)[N], const char *text) {
    std::snprintf(field, N, "%s", text != nullptr ? text : "");
}

Entry &Push() {
    Stack &stack = t_stack;
    if (stack.depth == KRYPA_ERROR_DEPTH_MAX) {
        // Full: the oldest entry makes room, the newest stay on top.
        std::memmove(&stack.entries[0], &stack.entries[1],
                     sizeof(Entry) * (KRYPA_ERROR_DEPTH_MAX - 1));
        --stack.depth;
    }
    Entry &entry = stack.entries[static_cast<std::size_t>(stack.depth++)];
    entry = Entry{};
    return entry;
}

const Entry *Top() {
    const Stack &stack = t_stack;
    return stack.depth > 0 ? &stack.entries[static_cast<std::size_t>(stack.depth - 1)] : nullptr;
}

}  // namespace

namespace krypa {

void PushError(int32_t code, const char *message, const char *file, int line) noexcept {
    Entry &entry = Push();
    entry.code = code;
    entry.line = line;
    CopyText(entry.message, message);
    CopyText(entry.file, file);
    CopyText(entry.module, "krypa");
}

void MoveOpenSslErrors() noexcept {
    const char *file = nullptr;
    const char *function = nullptr;
    const char *data = nullptr;
    int line = 0;
    int flags = 0;
    // Bounded by the queue, which OpenSSL itself keeps to a fixed size.
    while (const unsigned long code = ERR_get_error_all(&file, &line, &function, &data, &flags)) {
        Entry &entry = Push();
        entry.code = static_cast<int32_t>(code & 0x7FFFFFFFul);
        entry.line = line;
        CopyText(entry.file, file);
        const char *library = ERR_lib_error_string(code);
        std::snprintf(entry.module, sizeof entry.module, "%s%s%s",
                      library != nullptr ? library : "OpenSSL",
                      function != nullptr && *function != '\0' ? ":" : "",
                      function != nullptr ? function : "");
        const char *reason = ERR_reason_error_string(code);
        const bool hasData = data != nullptr && *data != '\0' && (flags & ERR_TXT_STRING) != 0;
        if (reason != nullptr) {
            std::snprintf(entry.message, sizeof entry.message, "%s%s%s", reason,
                          hasData ? ": " : "", hasData ? data : "");
        } else {
            std::snprintf(entry.message, sizeof entry.message, "reason %d%s%s",
                          ERR_GET_REASON(code), hasData ? ": " : "", hasData ? data : "");
        }
    }
}

}  // namespace krypa

int32_t krypa_error_depth(void) noexcept {
    return t_stack.depth;
}

const char *krypa_error_msg(void) noexcept {
    const Entry *top = Top();
    return top != nullptr ? top->message : "";
}

int32_t krypa_error_code(void) noexcept {
    const Entry *top = Top();
    return top != nullptr ? top->code : 0;
}

int32_t krypa_error_sourceline(void) noexcept {
    const Entry *top = Top();
    return top != nullptr ? top->line : 0;
}

const char *krypa_error_sourcefile(void) noexcept {
    const Entry *top = Top();
    return top != nullptr ? top->file : "";
}

const char *krypa_error_module(void) noexcept {
    const Entry *top = Top();
    return top != nullptr ? top->module : "";
}

void krypa_error_pop(void) noexcept {
    if (t_stack.depth > 0) --t_stack.depth;
}
