// LydraCorvaneQuillmark as the automation server serves it on Windows: the
// class's identifiers, its names and DISPIDs from the type library, and each
// instance made by the class factory and called through the dispatcher.
#ifndef QUILLMARK_COM_WIN_AUTOMATION_CLASS_H_
#define QUILLMARK_COM_WIN_AUTOMATION_CLASS_H_

#include "platform/automation/automation_server.h"

namespace quillmark::com {

const platform::AutomationClass& QuillmarkAutomationClass();

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_WIN_AUTOMATION_CLASS_H_
