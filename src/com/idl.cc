// The type library as IDL text and as a JSON member list, both generated
// from the table in type_library.cc.
#include <string>

#include "com/type_library.h"
#include "common/json.h"
#include "control/guids.h"

namespace quillmark::com {

using ::quillmark::control::Guid;
using ::quillmark::control::GuidToString;
using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
using ::quillmark::control::kClsidLydraCorvaneQuillmark;
using ::quillmark::control::kDiidILydraCorvaneQuillmarkEvents;
using ::quillmark::control::kIidILydraCorvaneQuillmark;
using ::quillmark::control::kLibidLydraQuillmark;
namespace {

// The GUID without braces, as IDL's uuid() attribute takes it.
std::string Uuid(const Guid& guid) {
  std::string text = GuidToString(guid);
  return text.substr(1, text.size() - 2);
}

std::string_view IdlType(ParamType type) {
  switch (type) {
    case ParamType::kString:
      return "BSTR";
    case ParamType::kInt32:
      return "LONG";
    case ParamType::kUInt32:
      return "ULONG";
  }
  return "";
}

std::string IdlAttributes(const MemberInfo& m) {
  std::string attrs = "[";
  if (m.kind == MemberKind::kPropGet) attrs += "propget, ";
  if (m.kind == MemberKind::kPropPut) attrs += "propput, ";
  attrs += "id(" + std::to_string(m.dispid) + "), helpstring(\"";
  attrs += m.doc;
  attrs += "\")]";
  return attrs;
}

std::string IdlParameter(const ParamInfo& p) {
  std::string text;
  switch (p.dir) {
    case ParamDir::kIn:
      text = "[in] ";
      break;
    case ParamDir::kOutRetval:
      text = "[out, retval] ";
      break;
    case ParamDir::kNone:
      break;
  }
  text += IdlType(p.type);
  if (p.dir == ParamDir::kOutRetval) text += "*";
  text += " ";
  text += p.name;
  return text;
}

}  // namespace

std::string TypeLibraryIdl() {
  std::string idl;
  idl += "// LydraQuillmark.idl: the type library of the LydraCorvaneQuillmark control.\n";
  idl += "import \"oaidl.idl\";\n";
  idl += "import \"ocidl.idl\";\n\n";
  idl += "[\n";
  idl += "\tobject,\n";
  idl += "\tuuid(" + Uuid(kIidILydraCorvaneQuillmark) + "),\n";
  idl += "\tdual,\n";
  idl += "\thelpstring(\"ILydraCorvaneQuillmark Interface\"),\n";
  idl += "\tpointer_default(unique)\n";
  idl += "]\n";
  idl += "interface ILydraCorvaneQuillmark : IDispatch\n{\n";
  for (const MemberInfo& m : TypeLibraryMembers()) {
    idl += "\t" + IdlAttributes(m) + " HRESULT ";
    idl += m.name;
    idl += "(";
    bool first = true;
    for (const ParamInfo& p : m.params()) {
      if (!first) idl += ", ";
      first = false;
      idl += IdlParameter(p);
    }
    idl += ");\n";
  }
  idl += "};\n\n";
  idl += "[\n";
  idl += "\tuuid(" + Uuid(kLibidLydraQuillmark) + "),\n";
  idl += "\tversion(1.0),\n";
  idl += "\thelpstring(\"LydraQuillmark 1.0 Type Library\")\n";
  idl += "]\n";
  idl += "library LydraQuillmark\n{\n";
  idl += "\timportlib(\"stdole2.tlb\");\n\n";
  // Named before the dispinterface: widl 7 otherwise overwrites the last
  // byte of the library's GUID in the compiled type library.
  idl += "\tinterface ILydraCorvaneQuillmark;\n\n";
  idl += "\t[\n";
  idl += "\t\tuuid(" + Uuid(kDiidILydraCorvaneQuillmarkEvents) + "),\n";
  idl += "\t\thelpstring(\"_ILydraCorvaneQuillmarkEvents Interface\")\n";
  idl += "\t]\n";
  idl += "\tdispinterface _ILydraCorvaneQuillmarkEvents\n\t{\n";
  idl += "\t\tproperties:\n";
  idl += "\t\tmethods:\n";
  idl += "\t};\n\n";
  idl += "\t[\n";
  idl += "\t\tuuid(" + Uuid(kClsidLydraCorvaneQuillmark) + "),\n";
  idl += "\t\tcontrol,\n";
  idl += "\t\thelpstring(\"LydraCorvaneQuillmark Class\")\n";
  idl += "\t]\n";
  idl += "\tcoclass LydraCorvaneQuillmark\n\t{\n";
  idl += "\t\t[default] interface ILydraCorvaneQuillmark;\n";
  idl += "\t\t[default, source] dispinterface _ILydraCorvaneQuillmarkEvents;\n";
  idl += "\t};\n";
  idl += "};\n";
  return idl;
}

std::string TypeLibraryJson() {
  json::Writer w;
  w.BeginObject();
  w.Key("members");
  w.BeginArray();
  for (const MemberInfo& m : TypeLibraryMembers()) {
    w.BeginObject();
    w.Key("dispid");
    w.Int(m.dispid);
    w.Key("name");
    w.StringUtf8(m.name);
    w.Key("kind");
    w.StringUtf8(MemberKindName(m.kind));
    w.Key("params");
    w.BeginArray();
    for (const ParamInfo& p : m.params()) {
      w.BeginObject();
      w.Key("name");
      w.StringUtf8(p.name);
      w.Key("type");
      w.StringUtf8(ParamTypeName(p.type));
      w.Key("dir");
      w.StringUtf8(ParamDirName(p.dir));
      w.EndObject();
    }
    w.EndArray();
    w.Key("doc");
    w.StringUtf8(m.doc);
    w.Key("built");
    w.Bool(m.built());
    w.Key("effects");
    w.BeginArray();
    for (std::string_view effect : MemberEffectNames(m.effects)) w.StringUtf8(effect);
    w.EndArray();
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
  return w.Take();
}

}  // namespace quillmark::com
