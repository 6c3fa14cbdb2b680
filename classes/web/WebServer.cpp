#include "web/WebServer.h"

#include <libwebsockets.h>
#include <uv.h>

#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "web/WebClients.h"

namespace velto {

namespace {

constexpr const char* kSubprotocol = "velto-grid";
// A connection that sends no complete request within this is closed, so that
// a flood of idle connections frees itself.
constexpr unsigned kIdleSeconds = 5;
// Descriptors lws may take at most: the clients, pages loading and a few more.
constexpr unsigned kMaxDescriptors = 64;

// What lws keeps per WebSocket (zeroed by lws).
struct Session {
    std::uint64_t seen;  // version of the state it was last sent
    bool admitted;       // holds one of the clients' places
};

int httpCallback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len);
int socketCallback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len);

// The header's value, empty when absent or too long to be one of ours.
std::string header(lws* wsi, lws_token_indexes token) {
    char buffer[256];
    const int length = lws_hdr_copy(wsi, buffer, sizeof buffer, token);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

std::string tokenArgument(lws* wsi) {
    char buffer[128];
    const char* value = lws_get_urlarg_by_name(wsi, "token=", buffer, sizeof buffer);
    return value != nullptr ? std::string(value) : std::string();
}

void logLine(int, const char* line) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    Log::message("web: " + text);
}

}  // namespace

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
    RunLoop& runLoop;
    Settings settings;
    PressHandler onPress;
    std::vector<unsigned char> page;  // LWS_PRE bytes, then the page
    WebClients clients{kMaxClients};
    std::vector<unsigned char> frame;  // LWS_PRE bytes, then the state being sent
    uv_loop_t uvLoop{};
    lws_protocols protocols[3]{};
    lws_context* context = nullptr;
    lws_vhost* vhost = nullptr;
    int connections = 0;         // every lws connection, listening socket excepted
    std::uint64_t activity = 0;  // lws callbacks so far
    static constexpr int kMaxRounds = 16;
    bool servicing = false;
    bool loopReady = false;
    std::unique_ptr<ReadableWatch> watch;
    std::unique_ptr<Timer> timer;

    Impl(RunLoop& loop, Settings s, std::string_view pageText, PressHandler press)
        : runLoop(loop), settings(std::move(s)), onPress(std::move(press)) {
        page.resize(LWS_PRE);
        page.insert(page.end(), pageText.begin(), pageText.end());
        loopReady = uv_loop_init(&uvLoop) == 0;
    }

    ~Impl() {
        watch.reset();
        timer.reset();
        if (!loopReady) return;
        // On a loop that is not its own, lws destroys in two calls: the first
        // closes its libuv handles, which the loop then completes; the second
        // frees the rest and clears `context`.
        if (context != nullptr) {
            lws_context_destroy(context);
            for (int run = 0; run < 100 && uv_run(&uvLoop, UV_RUN_NOWAIT) != 0; ++run) {
            }
            if (context != nullptr) lws_context_destroy(context);
        }
        // Whatever handle is still open is closed, so that the loop lets go of
        // its descriptors.
        uv_walk(
            &uvLoop,
            [](uv_handle_t* handle, void*) {
                if (!uv_is_closing(handle)) uv_close(handle, nullptr);
            },
            nullptr);
        uv_run(&uvLoop, UV_RUN_NOWAIT);
        uv_loop_close(&uvLoop);
    }

    bool listen() {
        if (!loopReady) return false;
        protocols[0] = {"http", httpCallback, 0, 0, 0, this, 0};
        protocols[1] = {kSubprotocol, socketCallback, sizeof(Session), kMaxFrame, 0, this, 0};
        void* foreignLoops[] = {&uvLoop};
        lws_context_creation_info info{};
        info.port = settings.port;
        const bool anyAddress =
            settings.host.empty() || settings.host == "0.0.0.0" || settings.host == "::";
        info.iface = anyAddress ? nullptr : settings.host.c_str();
        info.protocols = protocols;
        info.foreign_loops = foreignLoops;
        info.options = LWS_SERVER_OPTION_LIBUV | LWS_SERVER_OPTION_UV_NO_SIGSEGV_SIGFPE_SPIN |
                       LWS_SERVER_OPTION_VALIDATE_UTF8 | LWS_SERVER_OPTION_EXPLICIT_VHOSTS;
        info.timeout_secs = kIdleSeconds;
        info.fd_limit_per_thread = kMaxDescriptors;
        info.max_http_header_data = 1024;
        info.user = this;
        info.pcontext = &context;
        context = lws_create_context(&info);
        if (context == nullptr) return false;
        vhost = lws_create_vhost(context, &info);
        if (vhost == nullptr) return false;
        watch = runLoop.watchReadable(uv_backend_fd(&uvLoop), [this] { service(); });
        service();
        return true;
    }

    // libuv's ready work, without waiting; then the time-out tick, only while
    // someone is connected.
    void service() {
        if (servicing) {
            serviceSoon();
            return;
        }
        servicing = true;
        // libuv applies a change of what a socket is watched for in its next
        // poll, not at once: while lws acted (any callback), run again so that
        // what it asked for is watched before the loop sleeps.
        int rounds = 0;
        std::uint64_t before = 0;
        do {
            before = activity;
            uv_run(&uvLoop, UV_RUN_NOWAIT);
        } while (activity != before && ++rounds < kMaxRounds);
        servicing = false;
        if (rounds == kMaxRounds) serviceSoon();  // busy: the rest in the next pass
        const int due = connections > 0 ? uv_backend_timeout(&uvLoop) : -1;
        if (due < 0) {
            timer.reset();
        } else {
            timer =
                runLoop.scheduleTimer(std::chrono::milliseconds(due), false, [this] { service(); });
        }
    }

    // Called from within lws: the next pass services what it asked for.
    void serviceSoon() {
        runLoop.post([weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->service();
        });
    }

    bool admits(lws* wsi) const {
        return WebAccess::admits(settings.token, tokenArgument(wsi), header(wsi, WSI_TOKEN_ORIGIN),
                                 header(wsi, WSI_TOKEN_HOST));
    }

    int servePage(lws* wsi, std::string_view path) {
        unsigned char buffer[LWS_PRE + 512];
        unsigned char* start = buffer + LWS_PRE;
        unsigned char* p = start;
        unsigned char* end = buffer + sizeof buffer - 1;
        int status = HTTP_STATUS_OK;
        if (path != "/")
            status = HTTP_STATUS_NOT_FOUND;
        else if (!admits(wsi))
            status = HTTP_STATUS_FORBIDDEN;
        if (status != HTTP_STATUS_OK) {
            lws_return_http_status(wsi, static_cast<unsigned>(status), nullptr);
            return lws_http_transaction_completed(wsi) ? -1 : 0;
        }
        const auto length = page.size() - LWS_PRE;
        static constexpr char kNoCache[] = "no-store";
        if (lws_add_http_common_headers(wsi, HTTP_STATUS_OK, "text/html; charset=utf-8", length, &p,
                                        end) ||
            lws_add_http_header_by_token(wsi, WSI_TOKEN_HTTP_CACHE_CONTROL,
                                         reinterpret_cast<const unsigned char*>(kNoCache),
                                         static_cast<int>(sizeof kNoCache - 1), &p, end) ||
            lws_finalize_write_http_header(wsi, start, &p, end))
            return -1;
        lws_callback_on_writable(wsi);
        return 0;
    }

    int writePage(lws* wsi) {
        if (lws_write(wsi, page.data() + LWS_PRE, page.size() - LWS_PRE, LWS_WRITE_HTTP_FINAL) < 0)
            return -1;
        return lws_http_transaction_completed(wsi) ? -1 : 0;
    }

    int writeState(lws* wsi, Session& session) {
        const std::string* state = clients.nextFor(session.seen);
        if (state == nullptr) return 0;
        frame.resize(LWS_PRE);
        frame.insert(frame.end(), state->begin(), state->end());
        return lws_write(wsi, frame.data() + LWS_PRE, state->size(), LWS_WRITE_TEXT) < 0 ? -1 : 0;
    }

    int receive(lws* wsi, std::string_view data) {
        // A press is one short text frame: anything else is closed.
        const auto press =
            lws_is_first_fragment(wsi) && lws_is_final_fragment(wsi) && !lws_frame_is_binary(wsi)
                ? PagePress::parse(data)
                : std::nullopt;
        if (!press) {
            lws_close_reason(wsi, LWS_CLOSE_STATUS_POLICY_VIOLATION, nullptr, 0);
            return -1;
        }
        onPress(*press);
        return 0;
    }
};

namespace {

WebServer::Impl* implOf(lws* wsi) {
    const lws_protocols* protocol = lws_get_protocol(wsi);
    return protocol != nullptr ? static_cast<WebServer::Impl*>(protocol->user) : nullptr;
}

int httpCallback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len) {
    WebServer::Impl* impl = implOf(wsi);
    if (impl == nullptr) return lws_callback_http_dummy(wsi, reason, user, in, len);
    ++impl->activity;
    switch (reason) {
        case LWS_CALLBACK_WSI_CREATE:
            ++impl->connections;
            return 0;
        case LWS_CALLBACK_WSI_DESTROY:
            --impl->connections;
            return 0;
        case LWS_CALLBACK_HTTP:
            return impl->servePage(wsi, std::string_view(static_cast<const char*>(in)));
        case LWS_CALLBACK_HTTP_WRITEABLE:
            return impl->writePage(wsi);
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            return 1;  // a WebSocket without our subprotocol
        default:
            return lws_callback_http_dummy(wsi, reason, user, in, len);
    }
}

int socketCallback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len) {
    WebServer::Impl* impl = implOf(wsi);
    auto* session = static_cast<Session*>(user);
    if (impl == nullptr) return 0;
    ++impl->activity;
    switch (reason) {
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            return impl->admits(wsi) && impl->clients.count() < WebServer::kMaxClients ? 0 : 1;
        case LWS_CALLBACK_ESTABLISHED:
            if (!impl->clients.admit()) return -1;
            session->admitted = true;
            lws_callback_on_writable(wsi);
            return 0;
        case LWS_CALLBACK_CLOSED:
            if (session != nullptr && session->admitted) impl->clients.leave();
            return 0;
        case LWS_CALLBACK_RECEIVE:
            return impl->receive(wsi, std::string_view(static_cast<const char*>(in), len));
        case LWS_CALLBACK_SERVER_WRITEABLE:
            return impl->writeState(wsi, *session);
        default:
            return 0;
    }
}

}  // namespace

WebServer::WebServer(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebServer::~WebServer() = default;

std::unique_ptr<WebServer> WebServer::start(RunLoop& loop, Settings settings, std::string_view page,
                                            PressHandler onPress) {
    lws_set_log_level(LLL_ERR, logLine);
    const std::string where = settings.host + ":" + std::to_string(settings.port);
    auto impl = std::make_shared<Impl>(loop, std::move(settings), page, std::move(onPress));
    if (!impl->listen()) {
        Log::message("web: cannot listen on " + where);
        return nullptr;
    }
    return std::unique_ptr<WebServer>(new WebServer(std::move(impl)));
}

std::uint16_t WebServer::port() const {
    return static_cast<std::uint16_t>(lws_get_vhost_listen_port(impl_->vhost));
}

std::size_t WebServer::clientCount() const { return impl_->clients.count(); }

void WebServer::publish(std::string state) {
    if (!impl_->clients.publish(std::move(state))) return;
    lws_callback_on_writable_all_protocol(impl_->context, &impl_->protocols[1]);
    impl_->service();
}

}  // namespace velto
