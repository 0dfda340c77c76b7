// ASCII answers: decoding, LRC and the answer check; a decoded frame encodes back to its text.
#include <cstdlib>
#include <string_view>

#include "FuzzRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kd::mb;
  const Bytes request = FuzzRequest(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Bytes answer;
  const std::int32_t r = ParseAsciiAnswer(request, text, answer);
  if (!KnownResult(r)) std::abort();
  Bytes frame;
  if (DecodeAscii(text, frame) == AsciiStatus::Ok) {
    std::string again = EncodeAscii(frame);
    std::string upper(text);
    for (char& c : upper)
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (again != upper) std::abort();
  }
  return 0;
}
