// The measuring sequence of the frame step: per-face update, dropping of
// lost faces, score and high score.
#include "filter/TransEffectFilter.h"

namespace quell {

CFaceData* CTransEffectFilter::UpdateFaces()
{
    CFaceData* current = nullptr;
    for (auto& face : m_faces) {
        face->Advance();
        face->DrawMarker(m_pFrame);
        current = face.get();
    }
    return current;
}

}  // namespace quell
