// The overlay: panel mask, tint and shade passes, texts and gauge.
#include "filter/TransEffectFilter.h"

namespace quell {

void CTransEffectFilter::BuildHudMask() {}

void CTransEffectFilter::TintPass() {}

void CTransEffectFilter::ShadePass() {}

void CTransEffectFilter::DrawOverlay(CFaceData*) {}

}  // namespace quell
