// RTU answers: the length rule on every prefix, then the answer check.
#include <cstdlib>

#include "Checksum.h"
#include "FuzzRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kd::mb;
  const Bytes request = FuzzRequest(data, size);
  const ByteView adu(data, size);
  for (std::size_t n = 0; n <= size && n < 8; ++n) {
    const int length = AnswerFrameLength(adu.first(n));
    if (length < kBySilence || length > 3 + 255) std::abort();
    (void)RequestFrameLength(adu.first(n));
  }
  Bytes answer;
  const std::int32_t r = ParseRtuAnswer(request, adu, answer);
  if (!KnownResult(r)) std::abort();
  // Only a frame with a valid CRC, of this slave and function, is ever taken.
  if (r == 0 && (!RtuCrcValid(adu) || answer.size() + 2 != size || answer[0] != request[0] ||
                 answer[1] != request[1]))
    std::abort();
  // The exact fit is the stricter one.
  Bytes exact;
  const std::int32_t e = ParseRtuAnswer(request, adu, exact, Fit::Exact);
  if (!KnownResult(e) || (e == 0 && (r != 0 || exact != answer))) std::abort();
  return 0;
}
