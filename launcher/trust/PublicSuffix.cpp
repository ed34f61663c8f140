#include "PublicSuffix.h"

#include "zelvo/log.h"

#include <libpsl.h>

#include <memory>

namespace {

struct PslFree {
    void operator()(psl_ctx_t* context) const { psl_free(context); }
};

// The newer of the list built into the library and the system's file (Debian's
// publicsuffix package); the built-in one alone where there is no file.
const psl_ctx_t* context() {
    static const std::unique_ptr<psl_ctx_t, PslFree> latest(psl_latest(nullptr));
    if (latest) return latest.get();
    return psl_builtin();
}

}  // namespace

bool PublicSuffix::covers(const std::string& host) {
    const psl_ctx_t* list = context();
    if (!list) {
        LOG_WARN("PublicSuffix::covers") << "No se dispone de la lista de sufijos públicos";
        return false;
    }
    // Private suffixes (github.io) count too; a name the list does not know ends
    // in a top-level domain of its own, which the list's star rule covers.
    return psl_is_public_suffix2(list, host.c_str(), PSL_TYPE_ANY) != 0;
}
