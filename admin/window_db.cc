#include "admin/window_db.h"

namespace brenvo::admin {

std::string RootPassword(Console& console) { return console.settings().Get(kRootPwdApp, "Config", "rootpwd", ""); }

}  // namespace brenvo::admin
