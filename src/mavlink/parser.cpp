// The MAVLink stream parser and the queue of frames it has completed.
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "mavlink/mavlink.hpp"
#include "trovik/mavlink/parser.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink"};

namespace {

using mavlink::Frame;

struct ParserState {
    mavlink::Parser parser;
    std::deque<Frame> queue;  // filled by `feed` only
};

struct ParserValue {
    std::unique_ptr<Guarded<ParserState>> cell;
};

// Runs `data` through the parser, handing each completed frame to `sink`.
template <class Sink>
void run(ParserState& state, ByteView data, const std::optional<In<DialectCell>>& dialect, Sink&& sink) {
    with_lookup(dialect, [&](mavlink::SeedLookup lookup) { state.parser.push(data, lookup, sink); });
}

PyObject* frame_list(const std::vector<Frame>& frames) {
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(frames.size()))));
    for (std::size_t i = 0; i < frames.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(frames[i]));
    return list.release();
}

Class<ParserValue> parser_class{
    "MavlinkParser", "A streaming frame parser, and the frames it has completed.", [](auto& c) {
        c.no_borrow();  // the parser and its queue sit behind a mutex of their own
        c.init({}, "Creates a parser with an empty buffer.",
               [] { return ParserValue{std::make_unique<Guarded<ParserState>>("the parser is poisoned")}; });
        c.def("push",
              "Feeds bytes off a link and returns the frames that completed.\n\n"
              "Whatever a link delivers can be pushed as it arrives, however it is split;\n"
              "noise between frames is skipped rather than reported.",
              {"data", arg("dialect").none()},
              [](const ParserValue& self, ByteView data, std::optional<In<DialectCell>> dialect) {
                  // The frames are made into Python objects once the parser is
                  // let go: making them may run arbitrary Python code.
                  std::vector<Frame> completed;
                  self.cell->with([&](ParserState& state) {
                      run(state, data, dialect, [&](const Frame& f) { completed.push_back(f); });
                  });
                  return frame_list(completed);
              });
        c.def("feed", "Feeds bytes and queues what completed, for a caller that drains later.",
              {"data", arg("dialect").none()},
              [](const ParserValue& self, ByteView data, std::optional<In<DialectCell>> dialect) {
                  self.cell->with([&](ParserState& state) {
                      run(state, data, dialect, [&](const Frame& f) { state.queue.push_back(f); });
                  });
              });
        c.def("next_frame", "Takes the next completed frame, or `None` when the parser needs more bytes.",
              [](const ParserValue& self) -> PyObject* {
                  // The object is made first, so a frame leaves the queue only
                  // once it has somewhere to go.
                  PyTypeObject* type = ClassOf<Frame>::cls->type();
                  if (!type) throw PendingError{};
                  Ref object(check(alloc_instance(type)));
                  auto* instance = reinterpret_cast<Instance<Frame>*>(object.get());
                  const bool taken = self.cell->with([&](ParserState& state) {
                      if (state.queue.empty()) return false;
                      new (instance->storage) Frame(state.queue.front());
                      instance->alive = true;
                      state.queue.pop_front();
                      return true;
                  });
                  return taken ? object.release() : none();
              });
        c.prop("pending", "How many completed frames are waiting to be taken.", [](const ParserValue& self) {
            return self.cell->with([](ParserState& state) { return state.queue.size(); });
        });
    }};

}  // namespace
}  // namespace trovik::py
