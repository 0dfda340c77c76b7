// A received TCP stream, split into MBAP messages as the client does it.
#include <cstdlib>

#include "FuzzRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kd::mb;
  const Bytes request = FuzzRequest(data, size);
  ByteView stream(data, size);
  Bytes answer;
  for (;;) {
    const int length = MbapMessageLength(stream);
    if (length == kBadHeader || length == kNeedMore) break;
    if (length < 8 || length > 6 + 254) std::abort();
    if (stream.size() < static_cast<std::size_t>(length)) break;
    const auto r = ParseTcpAnswer(request, 0x0001, stream.first(static_cast<std::size_t>(length)), answer);
    if (r && !KnownResult(*r)) std::abort();
    stream = stream.subspan(static_cast<std::size_t>(length));
  }
  return 0;
}
