// The default folder for received files on Windows, as installers know it.
#include <string>

#include "com/registration.h"

namespace quillmark::com {

std::u16string DefaultStubPath() { return u"c:\\quillmarkStub\\"; }

}  // namespace quillmark::com
