#include "servicelocator.h"

namespace Kelvar {

ServiceLocator* ServiceLocator::instance()
{
    static ServiceLocator locator;
    return &locator;
}

ServiceLocator::~ServiceLocator()
{
    // Whatever is still registered at process exit is left to the operating system: the
    // implementations may live in plugins that are already unloaded.
}

} // namespace Kelvar
