#include "platform/CriticalSection.h"

#include <windows.h>

namespace platform {

struct CriticalSection::Impl {
    CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {
    InitializeCriticalSection(&impl_->section);
}
CriticalSection::~CriticalSection() { DeleteCriticalSection(&impl_->section); }
void CriticalSection::Enter() { EnterCriticalSection(&impl_->section); }
bool CriticalSection::TryEnter() { return TryEnterCriticalSection(&impl_->section) != FALSE; }
void CriticalSection::Leave() { LeaveCriticalSection(&impl_->section); }

}  // namespace platform
