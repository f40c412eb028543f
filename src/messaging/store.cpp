// The Python `Store`: a store-and-forward buffer over a memory or file store,
// and its drain onto a Python transport.
#include "messaging/store.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include <asio/awaitable.hpp>

#include "binding/binding.hpp"
#include "runtime/bridge.hpp"
#include "shared/link.hpp"
#include "shared/payload.hpp"
#include "trovik/sync/file.hpp"
#include "trovik/sync/forward.hpp"
#include "trovik/sync/memory.hpp"
#include "trovik/sync/shared.hpp"

namespace trovik::py {

const BindingSource this_source{"sync"};

namespace {

// Runs `look` on the slot under its lock. A fault that escapes while the lock
// is held leaves the slot poisoned; an ordinary refusal never does.
template <class Look>
auto with_slot(StoreSlot& slot, Look look) {
    std::lock_guard guard(slot.lock);
    if (slot.poisoned) raise_trovik(kStorePoisoned);
    try {
        return look(slot.store);
    } catch (const PendingError&) {
        throw;
    } catch (...) {
        slot.poisoned = true;
        throw;
    }
}

}  // namespace

sync::SharedStore take_store(StoreSlot& slot) {
    return with_slot(slot, [](std::optional<sync::SharedStore>& store) {
        if (!store) raise_trovik(kStoreSpent);
        sync::SharedStore taken = std::move(*store);
        store.reset();
        return taken;
    });
}

namespace {

// A copy of the handle for one call; the store stays where it is.
sync::SharedStore handle_of(const PyStore& self) {
    return with_slot(*self.slot, [](std::optional<sync::SharedStore>& store) {
        if (!store) raise_trovik(kStoreSpent);
        return *store;
    });
}

PyObject* make_store(sync::StoreKind kind) {
    return make(PyStore{std::make_shared<StoreSlot>(sync::SharedStore(std::move(kind)))});
}

std::optional<std::size_t> bound(std::size_t capacity) {
    if (capacity == 0) return std::nullopt;
    return capacity;
}

asio::awaitable<std::size_t> store_len(sync::SharedStore store) { co_return value_or_fail(co_await store.len()); }

asio::awaitable<std::optional<core::Bytes>> store_peek(sync::SharedStore store) {
    co_return value_or_fail(co_await store.peek());
}

asio::awaitable<std::optional<core::Bytes>> store_pop(sync::SharedStore store) {
    co_return value_or_fail(co_await store.pop());
}

asio::awaitable<void> store_append(sync::SharedStore store, core::Bytes record) {
    value_or_fail(co_await store.append(std::move(record)));
}

asio::awaitable<std::optional<std::string>> store_peek_text(sync::SharedStore store) {
    co_return value_or_fail(co_await sync::peek_text(store));
}

asio::awaitable<std::optional<std::string>> store_pop_text(sync::SharedStore store) {
    co_return value_or_fail(co_await sync::pop_text(store));
}

// The transport's lock is held for the whole drain, the store's only around
// each peek and removal.
asio::awaitable<std::size_t> store_drain(sync::SharedStore store, TransportSlot slot, TaskContext context,
                                         std::string topic) {
    TransportSlot::Held held = co_await slot.hold(std::move(context));
    co_return value_or_fail(co_await sync::drain_to(store, held->held(), topic));
}

PyObject* count_of(std::size_t& count) { return to_py(count); }

// A record fetched at once, as text.
std::optional<std::optional<std::string>> text_now(std::optional<sync::Fetched> fetched) {
    std::optional<std::optional<core::Bytes>> record = value_now(std::move(fetched));
    if (!record) return std::nullopt;
    return value_or_fail(sync::as_text(std::move(*record)));
}
PyObject* bytes_or_none(std::optional<core::Bytes>& record) { return to_py(std::move(record)); }
PyObject* text_or_none(std::optional<std::string>& text) { return to_py(std::move(text)); }

Class<PyStore> store_class{
    "Store",
    "A store-and-forward buffer.\n\nHanding a store to a ladder consumes it, because the ladder owns it from then\n"
    "on. A consumed store is emptied rather than left aliasing what now belongs to\nthe ladder, so using one twice "
    "raises.",
    [](auto& c) {
        c.no_borrow();  // the slot has its own lock
        c.def_static("memory",
                     "Creates a buffer held in memory.\n\nA full store refuses the next append rather than dropping "
                     "anything, so a\nrecord is never lost without the caller being told.",
                     {arg("capacity").def(0)},
                     [](std::size_t capacity) { return make_store(sync::MemoryStore(bound(capacity))); });
        c.def_static("file",
                     "Opens a buffer backed by a directory, so it survives a restart.\n\nA record a power cut "
                     "interrupted mid-write is never seen, and one written\nbefore the cut is found again when the "
                     "directory is reopened. `capacity` is\nthe most records to hold, or 0 for no bound; a full "
                     "store refuses the next\nappend, which keeps a long outage from filling the disk.",
                     {"dir", arg("capacity").def(0)}, [](std::string dir, std::size_t capacity) {
                         sync::FileStore store = unwrap(sync::FileStore::open(std::filesystem::path(dir)));
                         store.set_capacity(bound(capacity));
                         return make_store(std::move(store));
                     });
        c.def("len", "How many records the buffer holds.", [](const PyStore& self) {
            sync::SharedStore store = handle_of(self);
            return now_or_wait(
                running_loop(), false, Wakes::Nobody, [&] { return value_now(store.try_len()); },
                [&](const TaskContext&) { return store_len(store); }, count_of);
        });
        c.def("peek", "Reads the oldest record without removing it, or `None` when empty.", [](const PyStore& self) {
            sync::SharedStore store = handle_of(self);
            return now_or_wait(
                running_loop(), false, Wakes::Nobody, [&] { return value_now(store.try_peek()); },
                [&](const TaskContext&) { return store_peek(store); }, bytes_or_none);
        });
        c.def("pop", "Removes and returns the oldest record, or `None` when empty.", [](const PyStore& self) {
            sync::SharedStore store = handle_of(self);
            return now_or_wait(
                running_loop(), false, Wakes::Nobody, [&] { return value_now(store.try_pop()); },
                [&](const TaskContext&) { return store_pop(store); }, bytes_or_none);
        });
        c.def("append", "Adds a record to the end of the buffer.", {"record"}, [](const PyStore& self, Payload record) {
            sync::SharedStore store = handle_of(self);
            core::Bytes bytes = std::move(record).take();
            return now_or_wait(
                running_loop(), false, Wakes::Nobody, [&] { return finished_now(store.try_append(bytes)); },
                [&](const TaskContext&) { return store_append(store, std::move(bytes)); }, none);
        });
        c.def("peek_text", "Reads the oldest record as text without removing it, or `None` when empty.",
              [](const PyStore& self) {
                  sync::SharedStore store = handle_of(self);
                  return now_or_wait(
                      running_loop(), false, Wakes::Nobody, [&] { return text_now(store.try_peek()); },
                      [&](const TaskContext&) { return store_peek_text(store); }, text_or_none);
              });
        c.def("pop_text", "Removes and returns the oldest record as text, or `None` when empty.",
              [](const PyStore& self) {
                  sync::SharedStore store = handle_of(self);
                  return now_or_wait(
                      running_loop(), false, Wakes::Nobody, [&] { return text_now(store.try_pop()); },
                      [&](const TaskContext&) { return store_pop_text(store); }, text_or_none);
              });
        c.def("drain_to",
              "Drains the buffer onto a transport, publishing each record to `topic`,\noldest first, and returns how "
              "many went out.\n\nEach record leaves the buffer only once the transport has taken it, so a\nsend that "
              "fails raises the transport's error and leaves that record and\nevery one after it buffered, in order, "
              "for the next drain. The transport is\ndriven, not consumed.",
              {"transport", "topic"}, [](const PyStore& self, In<PyTransport> transport, std::string topic) {
                  sync::SharedStore store = handle_of(self);
                  TaskContext context = current_task_context(transport->slot.calls_python());
                  return start_awaitable(
                      context, store_drain(std::move(store), transport->slot, context, std::move(topic)), count_of);
              });
        c.prop("is_available", "Whether this store is still holdable, or has been given to a ladder.",
               [](const PyStore& self) {
                   std::lock_guard guard(self.slot->lock);
                   return !self.slot->poisoned && self.slot->store.has_value();
               });
    }};

}  // namespace
}  // namespace trovik::py
