// The proxy's message decoder on any stream; what it accepts encodes back byte for byte.
#include <cstdlib>
#include <cstring>

#include "ProxyProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kd::mb;
  std::span<const std::uint8_t> stream(data, size);
  for (;;) {
    DecodeResult r = DecodeMessage(stream);
    if (r.status != DecodeStatus::Ok) break;
    if (r.consumed == 0 || r.consumed > stream.size()) std::abort();
    auto again = EncodeMessage(r.message);
    if (!again || again->size() != r.consumed || std::memcmp(again->data(), stream.data(), r.consumed) != 0)
      std::abort();
    stream = stream.subspan(r.consumed);
  }
  return 0;
}
