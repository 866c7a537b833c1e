// Where the header's meta-object code is built.
#include "tests/permissions/bus/FakeFileManager.h"
