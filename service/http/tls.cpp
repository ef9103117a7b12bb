#include "service/http/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace service {

namespace {

// OpenSSL's last error in words, and its queue emptied.
std::string LastTlsError() {
    const unsigned long code = ERR_peek_last_error();
    char text[256] = "unknown error";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    ERR_clear_error();
    return text;
}

}  // namespace

std::shared_ptr<ssl_ctx_st> LoadTlsContext(const std::string& certFile, const std::string& keyFile,
                                           std::string& error) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!context) {
        error = LastTlsError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Writes may be cut short and taken up again from another place in the
    // same reply; idle connections give their buffers back.
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                        SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                        SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1) {
        error = certFile + ": " + LastTlsError();
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        error = keyFile + ": " + LastTlsError();
        return nullptr;
    }
    return context;
}

TlsSession::TlsSession(const std::shared_ptr<ssl_ctx_st>& context, int fd)
    : ssl_(SSL_new(context.get())) {
    if (ssl_ != nullptr && SSL_set_fd(ssl_, fd) != 1) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ssl_ != nullptr) {
        SSL_set_accept_state(ssl_);
    }
    ERR_clear_error();
}

TlsSession::~TlsSession() {
    if (ssl_ != nullptr && SSL_is_init_finished(ssl_)) {
        SSL_shutdown(ssl_);  // one try at a close_notify; nothing waits for it
    }
    SSL_free(ssl_);
    ERR_clear_error();
}

IoResult TlsSession::Read(char* out, std::size_t room) {
    std::size_t n = 0;
    const int result = SSL_read_ex(ssl_, out, room, &n);
    return result == 1 ? IoResult{n, IoResult::State::Done} : Outcome(result);
}

IoResult TlsSession::Write(const char* data, std::size_t size) {
    std::size_t n = 0;
    const int result = SSL_write_ex(ssl_, data, size, &n);
    return result == 1 ? IoResult{n, IoResult::State::Done} : Outcome(result);
}

IoResult TlsSession::Outcome(int result) {
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return {0, IoResult::State::WaitRead};
        case SSL_ERROR_WANT_WRITE:
            return {0, IoResult::State::WaitWrite};
        default:
            ERR_clear_error();
            return {0, IoResult::State::Failed};
    }
}

}  // namespace service
