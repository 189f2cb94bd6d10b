#include "tests/plugins/fx_helper.h"

FX_HELPER_API float HelperGain() {
    return 0.5f;
}
