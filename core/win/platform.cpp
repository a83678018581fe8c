#include "win/platform.hpp"

#include "win/lazy_binding.hpp"

namespace brq_install::win {

const platform_table real_api = {
#define BRQ_PLATFORM_BINDING(name) &::name,
    BRQ_PLATFORM_FUNCTIONS(BRQ_PLATFORM_BINDING)
#undef BRQ_PLATFORM_BINDING
#define BRQ_LAZY_BINDING(name, dll) &lazy::stub<lazy::name##_entry>::call,
        BRQ_LAZY_FUNCTIONS(BRQ_LAZY_BINDING)
#undef BRQ_LAZY_BINDING
};

platform_table api = real_api;

}  // namespace brq_install::win
