// How pvl reports the facade's failures: what was asked, then the cause the
// facade kept beside its last-error code.
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pvlCommands.h"

namespace pvl {

std::string CauseOf(const TPavona& facade) {
  if (!facade.LastErrorMessage().empty()) return facade.LastErrorMessage();
  return "failed (code " + std::to_string(facade.LastErrorCode()) + ")";
}

void LoadOrFail(TPavona& facade, const std::string& path, const std::string& password) {
  if (facade.LoadFromFile(NativePathToWide(path), UTF8ToWide(password))) return;
  if (facade.LastErrorCode() == pvlErrWrongPassword) throw Failure{kExitPassword, path + ": wrong password"};
  throw Failure{kExitUnreadable, "cannot open " + path + " as a PDF file: " + CauseOf(facade)};
}

}  // namespace pvl
