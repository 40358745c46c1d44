#include "platform/desktop/Accessibility.h"

namespace Accessibility {

bool isTrusted() { return backend().isTrusted(); }

bool userGrants() { return backend().userGrants(); }

bool isTrustedWithPrompt() { return backend().isTrustedWithPrompt(); }

} // namespace Accessibility
