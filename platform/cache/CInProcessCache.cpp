// Placeholder until the in-process cache component lands.
#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"

namespace {
class CNoCacheComponents : public ICacheComponents {
public:
    HRESULT InitializeThread() override { return S_OK; }
    HRESULT CreateInstance(std::unique_ptr<ICacheComponent>&) override { return E_NOTIMPL; }
};
} // namespace

ICacheComponents& InProcessCacheComponents() {
    return ImmortalInstance<CNoCacheComponents>();
}
