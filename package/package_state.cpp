#include "package/package.h"

PackageState g_package = {};
