#include "admin/Password.h"
#include "app/AppContext.h"
#include "link/Session.h"
#include "link/Worker.h"

namespace veldrix {

void DispatchOperation(AppContext& ctx, int opCode) {
    switch (opCode) {
    case 23: ChangePassword(ctx); break;
    case 25: LockProgrammer(ctx); break;
    case 37: ShowProgrammerInfo(ctx); break;
    default: break;  // codes without a routine run only the start and end steps
    }
}

}  // namespace veldrix
