#include "FenraCore/BindingNotifier.h"
