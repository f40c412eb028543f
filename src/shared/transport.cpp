// Messages as Python sees them, and the transport facade with the links
// behind it: the host link driven by Python handler objects, the link kinds,
// and the slot a Python transport keeps its link in.
#include "shared/transport.hpp"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/system_error.hpp>

#include "binding/binding.hpp"
#include "binding/forms.hpp"
#include "shared/message.hpp"
#include "runtime/receipt.hpp"
#include "trovik/core/async/runtime.hpp"
#include "trovik/core/text.hpp"

namespace trovik::py {

const BindingSource this_source{"transport"};

namespace {

namespace text = core::text;

// Accepts an optional sign, then digits with an optional point and fraction
// (a digit on at least one side) and an optional exponent, or one of the
// words inf, infinity and nan in any case.
bool is_float_text(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::string_view rest = s.substr(i);
    auto iequals = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if ((a[k] | 0x20) != b[k]) return false;
        return true;
    };
    if (iequals(rest, "inf") || iequals(rest, "infinity") || iequals(rest, "nan")) return true;
    auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    std::size_t whole = 0, frac = 0;
    while (digit(i)) ++i, ++whole;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (digit(i)) ++i, ++frac;
    }
    if (whole + frac == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (digit(i)) ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == s.size();
}

}  // namespace

PyObject* text_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    return to_py(s);
}

double number_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    std::string_view trimmed = text::trim_white_space(s);
    if (!is_float_text(trimmed)) raise_value_error("the payload is not a number");
    // strtod rounds correctly, gives infinity on overflow and zero (or a
    // subnormal) on underflow; neither is an error here.
    std::string copy(trimmed);
    return std::strtod(copy.c_str(), nullptr);
}

namespace {

Class<core::Message> message_class{
    "Message",
    "A message that arrived on a subscribed topic.\n\nCoAP and the loopback broker both hand back a topic and a "
    "payload, so one\nclass serves them rather than a near-identical type per transport.",
    [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.init({"topic", "payload"}, [](std::string_view topic, Payload payload) {
            return core::Message::make(topic, payload.bytes);
        });
        c.prop("topic", "The topic it was published to.", [](const core::Message& m) { return std::string_view(m.topic); });
        c.prop("payload", "The raw payload bytes.", [](const core::Message& m) { return ByteView(m.payload); });
        c.prop("text", "The payload as text: words, or a number written out.\n\nRaises `ValueError` if the payload is not UTF-8 text.",
               [](const core::Message& m) { return text_of(m.payload); });
        c.prop("number",
               "The payload as a number written out as text, such as `21.5`.\n\nRaises `ValueError` if the payload is not "
               "text or the text is not a number.",
               [](const core::Message& m) { return number_of(m.payload); });
        c.repr([](const core::Message& m) {
            std::string out = "Message(topic=";
            text::append_debug_quoted(out, m.topic);
            out += ", payload=" + std::to_string(m.payload.size()) + " bytes)";
            return out;
        });
    }};

}  // namespace

PyObject* make_message(core::Message message) { return make(std::move(message)); }

// ---- a place in a lock's queue ---------------------------------------------------------

struct LockTurn::Place {
    explicit Place(core::async::Strand s) : strand(std::move(s)) {}
    // Serialises the lock's delivery to us with our giving the place up.
    core::async::Strand strand;
    asio::cancellation_signal signal;
};

LockTurn::LockTurn(core::async::Mutex& mutex) {
    // A free lock with nobody queued is simply taken now.
    if (auto guard = mutex.try_lock()) {
        held_ = std::move(*guard);
        return;
    }
    detail::ensure_runtime();
    auto [sender, receiver] = core::async::make_oneshot<core::async::MutexGuard>();
    place_ = std::make_shared<Place>(core::async::runtime().make_strand());
    granted_.emplace(std::move(receiver));
    // A guard that finds the receiver gone is dropped here, which passes the lock on.
    auto deliver = [sender = std::move(sender), keep = place_](std::error_code error,
                                                                core::async::MutexGuard guard) mutable {
        if (!error) std::move(sender).send(std::move(guard));
    };
    mutex.async_lock(
        asio::bind_cancellation_slot(place_->signal.slot(), asio::bind_executor(place_->strand, std::move(deliver))));
}

LockTurn::LockTurn(LockTurn&& other) noexcept
    : held_(std::move(other.held_)),
      place_(std::move(other.place_)),
      granted_(std::move(other.granted_)),
      taken_(other.taken_) {
    other.granted_.reset();
}

LockTurn::~LockTurn() {
    if (!place_ || taken_) return;
    asio::post(place_->strand, [place = place_] { place->signal.emit(asio::cancellation_type::terminal); });
}

asio::awaitable<core::async::MutexGuard> LockTurn::wait() {
    if (held_) {
        taken_ = true;
        co_return std::move(held_);
    }
    std::optional<core::async::MutexGuard> guard = co_await granted_->async_wait();
    if (!guard) throw asio::system_error(asio::error::operation_aborted);
    taken_ = true;
    co_return std::move(*guard);
}

// ---- host transports ------------------------------------------------------------------

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// GCC 12 destroys a temporary that is aggregate-initialised inside a co_await
// expression twice (lambda closures included), so the callables and argument
// packs below are named before they are awaited on.

// Runs `fn` on the blocking pool with the interpreter lock; gives what it returned.
template <class T, class Fn>
asio::awaitable<T> with_python(Fn fn) {
    auto out = std::make_shared<std::optional<T>>();
    auto job = [fn = std::move(fn), out]() mutable -> PyOutcome {
        out->emplace(fn());
        return PyOutcome{};
    };
    co_await run_python(std::move(job));
    co_return std::move(**out);
}

// A str's UTF-8 text; lone surrogates become replacement marks. Lock held.
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
// when that is empty. Never fails. Lock held.
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

asio::awaitable<core::Error> describe(std::shared_ptr<PyObject> exception) {
    auto job = [exception = std::move(exception)] { return host_error(exception.get()); };
    co_return co_await with_python<core::Error>(std::move(job));
}

// The failure of a host operation that no awaitable call drives: the
// interpreter's own refusal to find a running loop.
asio::awaitable<core::Error> missing_loop_error() {
    auto job = [] {
        try {
            current_task_context();
        } catch (const PendingError&) {
        }
        PyOutcome missing = take_python_error();
        if (!missing.error) return core::Error::transport_fault("no running event loop");
        return host_error(missing.error.get());
    };
    co_return co_await with_python<core::Error>(std::move(job));
}

// A handler method's positional arguments, owned: the call may outlive the
// operation that asked for it when that operation is cancelled.
struct CallArgs {
    CallArgs() = default;
    explicit CallArgs(std::string_view t) : text(t) {}
    CallArgs(std::string_view t, std::span<const std::uint8_t> b) : text(t), bytes(core::Bytes(b.begin(), b.end())) {}

    std::optional<std::string> text;
    std::optional<core::Bytes> bytes;
};

PyObject* argument_tuple(const CallArgs& args) {
    Ref tuple(PyTuple_New((args.text ? 1 : 0) + (args.bytes ? 1 : 0)));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    if (args.text) {
        PyObject* text = PyUnicode_FromStringAndSize(args.text->data(), static_cast<Py_ssize_t>(args.text->size()));
        if (!text) return nullptr;
        PyTuple_SetItem(tuple.get(), i++, text);
    }
    if (args.bytes) {
        PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(args.bytes->data()),
                                                    static_cast<Py_ssize_t>(args.bytes->size()));
        if (!bytes) return nullptr;
        PyTuple_SetItem(tuple.get(), i++, bytes);
    }
    return tuple.release();
}

// Closes a coroutine that will never be awaited, so it does not warn that it
// was not; other awaitables are left alone. Lock held.
void close_unawaited(PyObject* awaitable) {
    Ref closed(PyObject_CallMethod(awaitable, "close", nullptr));
    if (!closed) PyErr_Clear();
}

// What a handler call's task and its job on the blocking pool share.
struct HandlerCall {
    std::mutex lock;
    bool abandoned = false;  // the task stopped waiting for the job
    bool awaitable = false;  // what the method returned has `__await__`
};

// Marks the call abandoned if the task unwinds (it was aborted) while its job
// is queued or running: a job that has not started then calls nothing, since
// what a method such as `recv` returns would be thrown away.
struct AbandonOnUnwind {
    std::shared_ptr<HandlerCall> call;
    ~AbandonOnUnwind() {
        if (!call) return;
        std::lock_guard guard(call->lock);
        call->abandoned = true;
    }
};

// Calls the handler method `name`, looked up now, in the caller's context on
// the blocking pool (a plain method never holds a runtime worker), and awaits
// what it returned on the caller's loop when that has `__await__`.
asio::awaitable<PyOutcome> call_handler(TaskContext context, std::shared_ptr<PyObject> handlers, const char* name,
                                        CallArgs args) {
    auto call = std::make_shared<HandlerCall>();
    auto job = [context, handlers = std::move(handlers), name, args = std::move(args), call] {
        {
            std::lock_guard guard(call->lock);
            if (call->abandoned) return PyOutcome{};
        }
        Ref method(PyObject_GetAttrString(handlers.get(), name));
        if (!method) return take_python_error();
        Ref arguments(argument_tuple(args));
        if (!arguments) return take_python_error();
        PyOutcome result = call_in_context(context, method.get(), arguments.get());
        if (result.error) return result;
        Ref await_method(PyObject_GetAttrString(result.value.get(), "__await__"));
        if (!await_method) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return take_python_error();
            PyErr_Clear();
            return result;
        }
        std::lock_guard guard(call->lock);
        if (call->abandoned) {
            close_unawaited(result.value.get());
            return PyOutcome{};
        }
        call->awaitable = true;
        return result;
    };
    AbandonOnUnwind abandon{call};
    PyOutcome outcome = co_await run_python(std::move(job));
    abandon.call.reset();
    if (outcome.error || !call->awaitable) co_return outcome;
    std::shared_ptr<PyObject> pending = outcome.value;
    PyOutcome awaited = co_await await_python(std::move(context), std::move(outcome.value));
    if (awaited.error) {
        // A coroutine the loop never ran (it was closed, say) is closed here;
        // closing one that ran is harmless.
        auto close = [pending = std::move(pending)] {
            close_unawaited(pending.get());
            return true;
        };
        co_await with_python<bool>(std::move(close));
    }
    co_return awaited;
}

PyTypeObject* message_type();

// What the handler's `recv()` returned, as a message, the end, or the refusal
// of anything else. Lock held.
core::Received read_received(PyObject* returned) {
    if (!returned || returned == Py_None) return std::optional<core::Message>{};
    PyTypeObject* type = message_type();
    if (!type) PyErr_Clear();
    if (type && PyObject_TypeCheck(returned, type)) return std::optional(Class<core::Message>::value_of(returned));
    if (PyTuple_Check(returned) && PyTuple_Size(returned) == 2) {
        PyObject* topic = PyTuple_GetItem(returned, 0);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(topic) ? PyUnicode_AsUTF8AndSize(topic, &size) : nullptr;
        if (text) {
            try {
                Caster<Payload> payload(PyTuple_GetItem(returned, 1));
                return std::optional(
                    core::Message::make(std::string_view(text, static_cast<std::size_t>(size)), payload.get().bytes));
            } catch (const PendingError&) {
            }
        }
        PyErr_Clear();
    }
    return std::unexpected(core::Error::transport_fault("recv must return a Message, a (topic, payload) pair, or None"));
}

// Calls the handler's `recv()` again as soon as it returns, until it gives
// None, fails, or the transport no longer listens.
asio::awaitable<void> pump(std::shared_ptr<PyObject> handlers, TaskContext context,
                           core::async::QueueSender<HostItem> sender) {
    for (;;) {
        PyOutcome outcome = co_await call_handler(context, handlers, "recv", CallArgs());
        core::Received got = std::optional<core::Message>{};
        if (outcome.error) {
            got = std::unexpected(co_await describe(std::move(outcome.error)));
        } else {
            auto read = [value = std::move(outcome.value)] { return read_received(value.get()); };
            got = co_await with_python<core::Received>(std::move(read));
        }
        if (!got) {
            sender.push(HostItem(std::unexpect, std::move(got.error())));
            co_return;
        }
        if (!*got) co_return;
        if (!sender.push(HostItem(std::move(**got)))) co_return;  // reconnected or gone
    }
}

}  // namespace

HostTransport::HostTransport(std::shared_ptr<PyObject> handlers, bool delivers)
    : handlers_(std::move(handlers)), delivers_(delivers) {}

asio::awaitable<core::Status> HostTransport::connect() {
    if (!caller_) co_return std::unexpected(co_await missing_loop_error());
    TaskContext context = *caller_;
    PyOutcome outcome = co_await call_handler(context, handlers_, "connect", CallArgs());
    if (outcome.error) co_return std::unexpected(co_await describe(std::move(outcome.error)));
    connected_ = true;
    start_pump(context);
    co_return core::Status{};
}

asio::awaitable<core::Status> HostTransport::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    if (!connected_) co_return std::unexpected(core::Error::closed());
    if (!caller_) co_return std::unexpected(co_await missing_loop_error());
    PyOutcome outcome = co_await call_handler(*caller_, handlers_, "send", CallArgs(topic, payload));
    if (outcome.error) co_return std::unexpected(co_await describe(std::move(outcome.error)));
    co_return core::Status{};
}

asio::awaitable<core::Status> HostTransport::subscribe(std::string_view filter) {
    if (!connected_) co_return std::unexpected(core::Error::closed());
    if (!caller_) co_return std::unexpected(co_await missing_loop_error());
    PyOutcome outcome = co_await call_handler(*caller_, handlers_, "subscribe", CallArgs(filter));
    if (outcome.error) co_return std::unexpected(co_await describe(std::move(outcome.error)));
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
    pump_ = core::async::spawn(pump(handlers_, context, std::move(sender)));
}

// ---- the link kinds -------------------------------------------------------------------

asio::awaitable<core::Status> Kind::connect() {
    return std::visit([](auto& link) { return link.connect(); }, link_);
}

asio::awaitable<core::Status> Kind::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    return std::visit([&](auto& link) { return link.send(topic, payload); }, link_);
}

asio::awaitable<core::Status> Kind::subscribe(std::string_view filter) {
    return std::visit([&](auto& link) { return link.subscribe(filter); }, link_);
}

asio::awaitable<core::Received> Kind::recv() {
    return std::visit([](auto& link) { return link.recv(); }, link_);
}

bool Kind::calls_python() {
    return std::visit(Overloaded{
                          [](Host&) { return true; },
                          [](Faulty& f) { return erased(f.inner()).calls_python(); },
                          [](Degraded& d) { return erased(d.inner()).calls_python(); },
                          [](auto&) { return false; },
                      },
                      link_);
}

void Kind::set_caller(const std::optional<TaskContext>& caller) {
    std::visit(Overloaded{
                   [&](Host& h) { h.set_caller(caller); },
                   [&](Faulty& f) { erased(f.inner()).set_caller(caller); },
                   [&](Degraded& d) { erased(d.inner()).set_caller(caller); },
                   [](auto&) {},
               },
               link_);
}

core::AnyTransport Kind::erase(Kind inner) { return core::AnyTransport::of(std::move(inner)); }

Kind& Kind::erased(core::AnyTransport& any) noexcept { return static_cast<core::Erased<Kind>&>(any.get()).link(); }

// ---- the slot of a Python transport ----------------------------------------------------

TransportSlot::TransportSlot(Kind held) : link(std::move(held)), calls_python(link->calls_python()) {}

std::shared_ptr<TransportSlot> wrap(Kind link) { return std::make_shared<TransportSlot>(std::move(link)); }

Kind take(TransportSlot& slot) {
    std::optional<core::async::MutexGuard> guard = slot.lock.try_lock();
    if (!guard) raise_trovik(kTransportBusy);
    std::optional<Kind> link = std::move(slot.link);
    slot.link.reset();
    guard->unlock();
    if (!link) raise_trovik(kTransportSpent);
    return std::move(*link);
}

bool is_available(TransportSlot& slot) {
    std::optional<core::async::MutexGuard> guard = slot.lock.try_lock();
    if (!guard) return true;
    return slot.link.has_value();
}

HeldLink::HeldLink(std::shared_ptr<TransportSlot> slot, core::async::MutexGuard guard, bool names_caller) noexcept
    : slot_(std::move(slot)), guard_(std::move(guard)), names_caller_(names_caller) {}

HeldLink::HeldLink(HeldLink&& other) noexcept
    : slot_(std::move(other.slot_)),
      guard_(std::move(other.guard_)),
      names_caller_(std::exchange(other.names_caller_, false)) {}

HeldLink::~HeldLink() {
    if (names_caller_ && slot_ && slot_->link) slot_->link->set_caller(std::nullopt);
}

namespace {
// The caller's context, kept only for links that call Python. Taken in any
// case: without a running loop it raises before anything starts.
std::optional<TaskContext> caller_for(const TransportSlot& slot) {
    TaskContext context = current_task_context();
    if (!slot.calls_python) return std::nullopt;
    return context;
}
}  // namespace

SlotCall::SlotCall(std::shared_ptr<TransportSlot> slot)
    : slot_(std::move(slot)), caller_(caller_for(*slot_)), turn_(slot_->lock) {}

asio::awaitable<HeldLink> SlotCall::hold() {
    core::async::MutexGuard guard = co_await turn_.wait();
    if (!slot_->link) throw TaskFailure::trovik(std::string(kTransportSpent));
    if (caller_) slot_->link->set_caller(caller_);
    co_return HeldLink(slot_, std::move(guard), caller_.has_value());
}

// ---- the Python transport facade ------------------------------------------------------

namespace {

asio::awaitable<void> call_connect(SlotCall call) {
    HeldLink held = co_await call.hold();
    ensure(co_await held.link().connect());
}

asio::awaitable<void> call_send(SlotCall call, std::string topic, core::Bytes payload) {
    HeldLink held = co_await call.hold();
    ensure(co_await held.link().send(topic, payload));
}

asio::awaitable<void> call_subscribe(SlotCall call, std::string filter) {
    HeldLink held = co_await call.hold();
    ensure(co_await held.link().subscribe(filter));
}

asio::awaitable<Receipt<HeldLink>> call_recv(SlotCall call, std::shared_ptr<TransportSlot> slot) {
    HeldLink held = co_await call.hold();
    std::optional<core::Message> message = take_returned(slot->returned);
    if (!message) {
        core::Received received = co_await held.link().recv();
        if (!received) throw TaskFailure::trovik(received.error());
        message = std::move(*received);
    }
    ReturnedMessages& returned = slot->returned;
    co_return make_receipt(std::move(message), std::move(held), std::move(slot), returned);
}

PyObject* resolve_none() { return none(); }

// Whether `object` has the attribute; an error other than its absence propagates.
bool has_attribute(PyObject* object, const char* name) {
    Ref found(PyObject_GetAttrString(object, name));
    if (found) return true;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PendingError{};
    PyErr_Clear();
    return false;
}

Class<PyTransport> py_transport_class{
    "PyTransport",
    "One transport: a link to drive with `connect`, `subscribe`, `send`, and `recv`,\nor to compose into a ladder or "
    "a wrapper.\n\nBuild one with the module constructors, then drive it or hand it to whatever should\nown it. A "
    "transport handed on is spent: using it afterwards raises.",
    [](auto& c) {
        c.no_borrow();  // the slot guards the link with its own lock
        c.def_static("mqtt", "Creates an MQTT transport from broker settings.",
                     {kw_only, "client_id", "host", "port", arg("keep_alive_secs").none(), arg("capacity").none(),
                      arg("qos").none(), arg("max_packet_size").none(), arg("username").none(),
                      arg("password").none(), arg("will").none(), arg("tls").none()},
                     [](std::string client_id, std::string host, std::uint16_t port,
                        std::optional<std::uint32_t> keep_alive_secs, std::optional<std::uint32_t> capacity,
                        std::optional<std::string> qos, std::optional<std::uint32_t> max_packet_size,
                        std::optional<std::string> username, std::optional<std::string> password,
                        std::optional<In<mqtt::MqttWill>> will, std::optional<In<mqtt::MqttTls>> tls) {
                         // The will and TLS settings are copied, not consumed.
                         std::optional<::trovik::mqtt::Will> will_copy;
                         if (will) will_copy = (*will)->will;
                         std::optional<::trovik::mqtt::tls::Tls> tls_copy;
                         if (tls) tls_copy = (*tls)->tls;
                         auto config = mqtt::settings(std::move(client_id), std::move(host), port, keep_alive_secs,
                                                      capacity, std::move(qos), max_packet_size, std::move(username),
                                                      std::move(password), std::move(will_copy), std::move(tls_copy));
                         return make_transport(Kind(mqtt::make_transport(std::move(config))));
                     });
        c.def_static("coap", "Creates a CoAP transport from endpoint settings.",
                     {kw_only, "host", "port", arg("bind").none(), arg("reliability").none(),
                      arg("ack_timeout_ms").none(), arg("max_retransmits").none()},
                     [](std::string host, std::uint16_t port, std::optional<std::string> bind,
                        std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                        std::optional<std::uint32_t> max_retransmits) {
                         auto config = coap::settings(std::move(host), port, std::move(bind), std::move(reliability),
                                                      ack_timeout_ms, max_retransmits);
                         return make_transport(Kind(coap::make_transport(std::move(config))));
                     });
        c.def_static("faulty",
                     "Wraps a transport so its next `failures` sends fail.\n\nThis is how a caller checks that a "
                     "ladder falls through to its next rung,\nor that a buffer fills, without unplugging anything. "
                     "The wrapped\ntransport is consumed.",
                     {"inner", "failures"}, [](In<PyTransport> inner, std::uint64_t failures) {
                         Kind link = take(*inner->slot);
                         return make_transport(Kind(Kind::Faulty(Kind::erase(std::move(link)), failures)));
                     });
        c.def_static("degraded",
                     "Wraps a transport in a link that loses packets and goes down.\n\nThe wrapped transport is "
                     "consumed.",
                     {"inner", arg("drop_every").def(0), arg("up").def(0), arg("down").def(0)},
                     [](In<PyTransport> inner, std::uint32_t drop_every, std::uint32_t up, std::uint32_t down) {
                         Kind link = take(*inner->slot);
                         return make_transport(Kind(Kind::Degraded(Kind::erase(std::move(link)), drop_every, up, down)));
                     });
        c.def_static(
            "from_handlers",
            "Wraps an object whose methods are the link.\n\n`handlers` needs `connect()`, `send(topic, payload)`, and "
            "`subscribe(topic)`,\neach a coroutine function or a plain one. A `recv()` that returns a\n`Message`, a "
            "`(topic, payload)` pair with the payload as text or bytes, or\n`None` once the link has ended makes it "
            "a link that delivers: it is called\nagain as soon as it returns, from the moment the transport "
            "connects. A\n`recv` that raises ends the link until the next connect, and the next\nreceive raises what "
            "it raised. Without `recv` the transport only sends, and\na ladder never listens on it.",
            {"handlers"}, [](PyObject* handlers) {
                for (const char* method : {"connect", "send", "subscribe"}) {
                    if (!has_attribute(handlers, method))
                        raise_trovik(std::string("a transport handler needs a ") + method + " method");
                }
                bool delivers = has_attribute(handlers, "recv");
                Py_INCREF(handlers);
                return make_transport(Kind(HostTransport(share(handlers), delivers)));
            });
        c.def("connect",
              "Establishes the link.\n\nRaises `TrovikError` when the link cannot be established, or when the "
              "transport\nwas handed on.",
              [](const PyTransport& self) { return start_awaitable(call_connect(SlotCall(self.slot)), resolve_none); });
        c.def("send",
              "Publishes a payload to a topic: bytes, or text such as a reading written out.\n\nRaises `TrovikError` "
              "when the link refuses it, or when the transport was handed on.",
              {"topic", "payload"}, [](const PyTransport& self, std::string topic, Payload payload) {
                  return start_awaitable(
                      call_send(SlotCall(self.slot), std::move(topic),
                                core::Bytes(payload.bytes.begin(), payload.bytes.end())),
                      resolve_none);
              });
        c.def("subscribe",
              "Subscribes to a topic, with the `+` and `#` wildcards.\n\nRaises `TrovikError` when the link refuses "
              "it, or when the transport was handed on.",
              {"topic"}, [](const PyTransport& self, std::string topic) {
                  return start_awaitable(call_subscribe(SlotCall(self.slot), std::move(topic)), resolve_none);
              });
        c.def("recv",
              "Waits for the next message on a subscribed topic, or `None` once the link has ended.\n\nRaises "
              "`TrovikError` when the link fails, or when the transport was handed on.",
              [](const PyTransport& self) {
                  return start_awaitable(call_recv(SlotCall(self.slot), self.slot), resolve_receipt<HeldLink>,
                                         return_receipt<HeldLink>);
              });
        c.prop("is_available", "Whether this transport is still holdable, or has been handed on.",
               [](const PyTransport& self) { return is_available(*self.slot); });
    }};

PyTypeObject* message_type() { return ClassOf<core::Message>::cls->type(); }

}  // namespace

PyObject* make_transport(Kind link) { return make(PyTransport{wrap(std::move(link))}); }

}  // namespace trovik::py
