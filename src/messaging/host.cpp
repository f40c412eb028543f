// Host transports: the link calls a Python handler object's methods.
#include "messaging/host.hpp"

#include <string>
#include <utility>

#include <asio/error.hpp>
#include <asio/system_error.hpp>

#include "binding/binding.hpp"
#include "shared/message.hpp"
#include "shared/payload.hpp"

namespace trovik::py {
namespace {

// A str's UTF-8 text; lone surrogates become replacement marks.
std::string utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(text, &size)) return std::string(p, static_cast<std::size_t>(size));
    PyErr_Clear();
    Ref encoded(PyUnicode_AsEncodedString(text, "utf-8", "replace"));
    if (!encoded) {
        PyErr_Clear();
        return {};
    }
    return std::string(PyBytes_AsString(encoded.get()), static_cast<std::size_t>(PyBytes_Size(encoded.get())));
}

std::optional<std::string> type_name_of(PyObject* exception) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(exception)), "__name__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return std::nullopt;
    }
    return utf8_of(name.get());
}

// What a handler's exception becomes: its str(), or a text naming its type
// when that is empty. Never fails.
core::Error host_error(PyObject* exception) {
    std::string text;
    Ref shown(PyObject_Str(exception));
    if (shown) {
        text = utf8_of(shown.get());
    } else {
        PyErr_WriteUnraisable(exception);
        auto name = type_name_of(exception);
        text = name ? "<unprintable " + *name + " object>" : "<unprintable object>";
    }
    if (text.empty()) {
        auto name = type_name_of(exception);
        text = name ? "the handler raised " + *name : "the handler raised an exception";
    }
    return core::Error::transport_fault(std::move(text));
}

// Our coroutines touch Python only while their loop drains them; once the
// loop is gone there is nobody to answer, and the operation is abandoned.
void need_python() {
    if (!python_here()) throw asio::system_error(asio::error::operation_aborted);
}

// The positional arguments of a handler call: (), (text,) or (text, bytes).
std::shared_ptr<PyObject> arguments(std::optional<std::string_view> text = std::nullopt,
                                    std::optional<std::span<const std::uint8_t>> bytes = std::nullopt) {
    Ref tuple(PyTuple_New((text ? 1 : 0) + (bytes ? 1 : 0)));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    if (text) {
        PyObject* item = PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
        if (!item) return nullptr;
        PyTuple_SetItem(tuple.get(), i++, item);
    }
    if (bytes) {
        PyObject* item = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                                   static_cast<Py_ssize_t>(bytes->size()));
        if (!item) return nullptr;
        PyTuple_SetItem(tuple.get(), i++, item);
    }
    return share(tuple.release());
}

// Calls the handler method `name`, looked up now, with `args`.
asio::awaitable<PyOutcome> call_handler(TaskContext context, std::shared_ptr<PyObject> handlers, const char* name,
                                        std::shared_ptr<PyObject> args) {
    need_python();
    if (!args) co_return take_python_error();
    PyObject* method = PyObject_GetAttrString(handlers.get(), name);
    if (!method) co_return take_python_error();
    std::shared_ptr<PyObject> callable = share(method);
    PyOutcome outcome = co_await call_python(context, std::move(callable), std::move(args));
    co_return outcome;
}

// The failure a handler's outcome stands for.
core::Error failure_of(const PyOutcome& outcome) {
    need_python();
    return host_error(outcome.error.get());
}

// What the handler's `recv()` returned, as a message, the end, or the refusal
// of anything else.
core::Received read_received(PyObject* returned) {
    if (!returned || returned == Py_None) return std::optional<core::Message>{};
    if (is_message(returned)) return std::optional(message_of(returned));
    if (PyTuple_Check(returned) && PyTuple_Size(returned) == 2) {
        PyObject* topic = PyTuple_GetItem(returned, 0);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(topic) ? PyUnicode_AsUTF8AndSize(topic, &size) : nullptr;
        if (text) {
            try {
                Caster<Payload> payload(PyTuple_GetItem(returned, 1));
                return std::optional(
                    core::Message{std::string(text, static_cast<std::size_t>(size)), std::move(payload).get().take()});
            } catch (const PendingError&) {
            }
        }
        PyErr_Clear();
    }
    return std::unexpected(
        core::Error::transport_fault("recv must return a Message, a (topic, payload) pair, or None"));
}

// Calls the handler's `recv()` again as soon as it returns, until it gives
// None, fails, or the transport no longer listens.
asio::awaitable<void> pump(std::shared_ptr<PyObject> handlers, TaskContext context,
                           core::async::QueueSender<HostItem> sender) {
    for (;;) {
        std::shared_ptr<PyObject> none_args = arguments();
        PyOutcome outcome = co_await call_handler(context, handlers, "recv", std::move(none_args));
        need_python();
        core::Received got = outcome.error ? std::unexpected(failure_of(outcome)) : read_received(outcome.value.get());
        if (!got) {
            sender.push(HostItem(std::unexpect, std::move(got.error())));
            co_return;
        }
        if (!*got) co_return;
        if (!sender.push(HostItem(std::move(**got)))) co_return;  // reconnected or gone
    }
}

// An operation driven by no awaitable call has no loop to run Python on.
core::Error missing_loop() { return core::Error::transport_fault("no running event loop"); }

}  // namespace

HostTransport::HostTransport(std::shared_ptr<PyObject> handlers, bool delivers)
    : handlers_(std::move(handlers)), delivers_(delivers) {}

asio::awaitable<core::Status> HostTransport::connect() {
    if (!caller_) co_return std::unexpected(missing_loop());
    TaskContext context = *caller_;
    need_python();
    std::shared_ptr<PyObject> args = arguments();
    PyOutcome outcome = co_await call_handler(context, handlers_, "connect", std::move(args));
    if (outcome.error) co_return std::unexpected(failure_of(outcome));
    connected_ = true;
    start_pump(context);
    co_return core::Status{};
}

asio::awaitable<core::Status> HostTransport::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    if (!connected_) co_return std::unexpected(core::Error::closed());
    if (!caller_) co_return std::unexpected(missing_loop());
    need_python();
    std::shared_ptr<PyObject> args = arguments(topic, payload);
    PyOutcome outcome = co_await call_handler(*caller_, handlers_, "send", std::move(args));
    if (outcome.error) co_return std::unexpected(failure_of(outcome));
    co_return core::Status{};
}

asio::awaitable<core::Status> HostTransport::subscribe(std::string_view filter) {
    if (!connected_) co_return std::unexpected(core::Error::closed());
    if (!caller_) co_return std::unexpected(missing_loop());
    need_python();
    std::shared_ptr<PyObject> args = arguments(filter);
    PyOutcome outcome = co_await call_handler(*caller_, handlers_, "subscribe", std::move(args));
    if (outcome.error) co_return std::unexpected(failure_of(outcome));
    co_return core::Status{};
}

asio::awaitable<core::Received> HostTransport::recv() {
    if (!connected_) co_return std::unexpected(core::Error::closed());
    if (!queue_) co_return std::optional<core::Message>{};  // a handler without recv delivers nothing
    // A cancelled wait takes nothing out of the queue.
    std::optional<HostItem> item = co_await queue_->async_pop();
    if (!item) co_return std::optional<core::Message>{};
    if (!*item) co_return std::unexpected(std::move(item->error()));
    co_return std::optional<core::Message>(std::move(**item));
}

void HostTransport::start_pump(const TaskContext& context) {
    if (!delivers_) return;
    pump_.abort();
    if (queue_) {
        queue_->close();
        while (queue_->try_pop()) {
        }
    }
    auto [sender, receiver] = core::async::make_queue<HostItem>();
    queue_.emplace(std::move(receiver));
    pump_ = core::async::spawn(asio::any_io_executor(context.scheduler->executor()),
                               pump(handlers_, context, std::move(sender)));
}

}  // namespace trovik::py
