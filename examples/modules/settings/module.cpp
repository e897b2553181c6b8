// Settings.dll: the configuration (991) and the application-wide services (3,
// 1185, 7001), all of them single instances.
#include "support/module_announcement.h"

namespace example {
namespace {

const ModuleAnnouncement g_announcement("Settings.dll");

}  // namespace
}  // namespace example
