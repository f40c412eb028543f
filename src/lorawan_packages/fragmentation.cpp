// The fragmented data block transport: the receiver that puts a block back
// together, the code over the block, and the sender's helpers.
#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "lorawan_packages/key_arg.hpp"
#include "trovik/lorawan_packages/block_mic.hpp"
#include "trovik/lorawan_packages/defragment.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_packages"};

namespace {

namespace fr = lorawan::packages::fragment;
using Bytes = std::vector<std::uint8_t>;

// The memory a receiver lends its session, owned here between calls.
struct Defrag {
    Bytes block;
    Bytes storage;
    fr::DefragProgress progress;
    std::uint16_t nb_frag;
    std::uint8_t frag_size;
    std::uint16_t missing;
};

Class<Defrag> defrag_class{
    "LorawanDefragmenter",
    "A fragmentation session being put back together, TS004-2.0.0 appendix A.2.\n\n"
    "Uncoded fragments go straight into the block. A coded fragment is reduced\n"
    "against everything already known and kept only if it says something new, so\n"
    "the working memory is sized by the losses rather than by the block.",
    [](auto& c) {
        c.init({"nb_frag", "frag_size", "max_lost"},
               "Opens a session for a block of `nb_frag` fragments of `frag_size` bytes.\n"
               "`max_lost`, the most uncoded fragments to be able to solve for, decides how\n"
               "much working memory the session takes.",
               [](std::uint16_t nb_frag, std::uint8_t frag_size, std::uint16_t max_lost) {
                   if (nb_frag == 0 || nb_frag > fr::kSessionLimit || frag_size == 0)
                       raise_trovik("the session is not one this build runs");
                   const auto rows = std::min(max_lost, nb_frag);
                   return Defrag{.block = Bytes(std::size_t{nb_frag} * frag_size),
                                 .storage = Bytes(fr::defrag_storage_size(nb_frag, rows)),
                                 .progress = {},
                                 .nb_frag = nb_frag,
                                 .frag_size = frag_size,
                                 .missing = nb_frag};
               });
        c.def("fragment", "Takes one fragment of the session, counting from one.", {"n", "data"},
              [](Defrag& self, std::uint16_t n, ByteView data) {
                  auto d =
                      fr::Defragmenter::resumed(self.nb_frag, self.frag_size, self.block, self.storage, self.progress);
                  if (!d) raise_trovik(fr::message(d.error()));
                  const auto result = d->fragment(n, data);
                  // Saved whatever the result: a fragment refused for too
                  // many losses still counts as received.
                  self.progress = d->progress();
                  const auto& p = self.progress;
                  self.missing = p.done ? 0 : static_cast<std::uint16_t>(self.nb_frag - p.seen + p.missing - p.solved);
                  if (!result) raise_trovik(fr::message(result.error()));
                  return *result;
              });
        c.prop("done", "Whether the whole block is there.", [](const Defrag& d) { return d.progress.done; });
        c.prop("block", "The block, as far as it has been put back together, padding and all.",
               [](const Defrag& d) { return to_py(d.block); });
        c.prop("missing", "How many uncoded fragments are still missing.", [](const Defrag& d) { return d.missing; });
        c.prop("received", "How many fragments arrived, coded, uncoded and repeated.",
               [](const Defrag& d) { return d.progress.received; });
        c.repr([](const Defrag& d) {
            return "LorawanDefragmenter(nb_frag=" + std::to_string(d.nb_frag) +
                   ", frag_size=" + std::to_string(d.frag_size) + ", received=" + std::to_string(d.progress.received) +
                   ", missing=" + std::to_string(d.missing) + ")";
        });
    }};

struct BlockMicState {
    fr::BlockKey key;
    std::uint16_t session_cnt;
    std::uint8_t frag_index;
    std::uint32_t descriptor;
    std::uint32_t block_len;
    Bytes held;
};

Class<BlockMicState> block_mic_class{
    "LorawanBlockMic", "The code taken over a data block as it arrives, TS004-2.0.0 section 3.3.", [](auto& c) {
        c.init({"data_block_int_key", "session_cnt", "frag_index", "descriptor", "block_len"},
               "Starts a code over one session's block. `data_block_int_key` is what\n"
               "`lorawan_data_block_int_key` derived; the rest are the fields the session\n"
               "setup carried.",
               [](ByteView key, std::uint16_t session_cnt, std::uint8_t frag_index, ByteView descriptor,
                  std::uint32_t block_len) {
                   const auto checked = sixteen(key, "data_block_int_key");
                   if (descriptor.size() != 4)
                       raise_trovik("descriptor must be four bytes, not " + std::to_string(descriptor.size()));
                   BlockMicState state{.key = {},
                                       .session_cnt = session_cnt,
                                       .frag_index = frag_index,
                                       .descriptor = static_cast<std::uint32_t>(descriptor[0] | descriptor[1] << 8 |
                                                                                descriptor[2] << 16) |
                                                     std::uint32_t{descriptor[3]} << 24,
                                       .block_len = block_len,
                                       .held = {}};
                   std::ranges::copy(checked, state.key.begin());
                   return state;
               });
        c.def("update", "Adds a piece of the block, in order, without any padding.", {"data"},
              [](BlockMicState& self, ByteView data) { self.held.insert(self.held.end(), data.begin(), data.end()); });
        c.def("finish", "Finishes the code, returning the four bytes a session setup carries.",
              [](const BlockMicState& self) {
                  const fr::BlockMicKey key(self.key);
                  auto mic = key.start(self.session_cnt, self.frag_index, self.descriptor, self.block_len);
                  mic.update(self.held);
                  const auto code = mic.finish();
                  return to_py(std::span<const std::uint8_t>(code));
              });
    }};

Class<fr::FragPlan> session_class{"LorawanFragSession", "How a block is cut into fragments.", [](auto& c) {
                                      c.no_borrow();  // a plain value
                                      c.prop("nb_frag", "How many uncoded fragments the block takes.",
                                             [](const fr::FragPlan& p) { return p.nb_frag; });
                                      c.prop("padding", "How many bytes of padding the last one carries.",
                                             [](const fr::FragPlan& p) { return p.padding; });
                                      c.repr([](const fr::FragPlan& p) {
                                          return "LorawanFragSession(nb_frag=" + std::to_string(p.nb_frag) +
                                                 ", padding=" + std::to_string(p.padding) + ")";
                                      });
                                  }};

const Function prbs23_fn{"lorawan_frag_prbs23",
                         "Steps the pseudo-random sequence the parity matrix is drawn from, appendix A.1.",
                         {"x"},
                         [](std::uint32_t x) { return fr::prbs23(x); }};

const Function parity_line_fn{"lorawan_frag_parity_line",
                              "Lists the uncoded fragments a coded one is made of, appendix A.1.\n\n"
                              "`coded` counts from one past the uncoded fragments, so a session's fragment\n"
                              "`nb_frag` + 1 is coded fragment 1.",
                              {"coded", "nb_frag"},
                              [](std::uint16_t coded, std::uint16_t nb_frag) {
                                  if (nb_frag == 0 || nb_frag > fr::kSessionLimit)
                                      raise_trovik("a session carries 1 to 16383 fragments");
                                  fr::ParityLine line;
                                  fr::parity_line(coded, nb_frag, line);
                                  std::vector<std::uint16_t> positions;
                                  for (std::uint16_t p = 0; p < nb_frag; ++p)
                                      if ((line[p / 8] >> (p % 8) & 1) != 0) positions.push_back(p);
                                  return positions;
                              }};

const Function session_fn{"lorawan_frag_session",
                          "Says how many fragments a block takes, and how much padding the last one needs.",
                          {"block_len", "frag_size"},
                          [](std::uint64_t block_len, std::uint8_t frag_size) {
                              return make(unwrap(fr::Fragmenter::plan(block_len, frag_size)));
                          }};

const Function fragment_fn{"lorawan_frag_fragment",
                           "Builds one fragment of a session out of a block held whole.\n\n"
                           "Up to `nb_frag` the fragment is a piece of the block; past that it is a coded\n"
                           "fragment, the exclusive-or of a pseudo-random half of the pieces.",
                           {"block", "frag_size", "n"},
                           [](ByteView block, std::uint8_t frag_size, std::uint16_t n) {
                               const auto fragmenter = unwrap(fr::Fragmenter::make(block, frag_size));
                               Bytes out(frag_size);
                               unwrap(fragmenter.fragment(n, out));
                               return to_py(out);
                           }};

}  // namespace
}  // namespace trovik::py
