#include "Tlaregboundcls.h"

#include <algorithm>

#include "Tlaregistercls.h"

double TlaRegBound::GetValue() const {
  if (Kind != KindMin && Kind != KindMax) return linked_ ? linked_->GetValueDouble(0) : Constant;
  if (!linked_) return Constant + Offset;
  const double linked = linked_->GetValueDouble(0);
  // The tighter maximum and the looser minimum are the smaller value.
  const bool smaller = (Mode == ModeTighter) == (Kind == KindMax);
  if (Mode == ModeTighter || Mode == ModeLooser)
    return (smaller ? std::min(linked, Constant) : std::max(linked, Constant)) + Offset;
  return linked + Offset;
}

void TlaRegBound::SetLinkedRegister(TlaRegister* reg) {
  if (!reg) {
    linked_ = nullptr;
    return;
  }
  const TlaRegDefinition* d = reg->Definition;
  if (d && d->IsIntegerType() && !d->Boolean) linked_ = reg;
}
