#include "common/osc/HJOSCListenerDelegate.h"

namespace velto {

HJOSCListenerDelegate::~HJOSCListenerDelegate() = default;

}  // namespace velto
