// pvl commands for interactive forms, through the facade:
//
//   pvl fields FILE [--password P]
//       one line per field, tab-separated: fully qualified name, kind (text,
//       button, checkbox, radio, choice, signature, parent, unknown), value,
//       field flags, and the rectangle as "left bottom right top" (empty for
//       fields without one). Tabs, line breaks and backslashes in names and
//       values are written as \t, \n, \r and \\. A signature's value is the
//       reference of its signature dictionary ("12 0 R").
//   pvl fill FILE NAME=VALUE... --out OUT [--password P]
//       sets each named field to the value (UTF-8) and saves to OUT; the
//       field's appearance is rebuilt so that every viewer shows the value.
//
// Exit status: 0 success, 1 wrong password, 2 unreadable file, 3 wrong usage,
// an unknown field, a value the field does not take, or a failed save.
#include <cstdio>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaForm.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

void load(TPavona& facade, const Options& o) {
  LoadOrFail(facade, o.positional[0], o.password);
}

std::string escaped(std::u16string_view text) {
  std::string out;
  for (char c : WideToUTF8(text)) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

const char* kindName(uint8_t kind) {
  static const char* const kNames[] = {"unknown", "text",   "button",    "checkbox",
                                       "radio",   "choice", "signature", "parent"};
  return kind < 8 ? kNames[kind] : "unknown";
}

std::string number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

// A signature's value is a whole signature dictionary (with the signature's
// bytes): it is named by its reference, as "12 0 R", instead.
std::string signatureValue(TPDFField& f) {
  TPDFObject* v = f.GetInheritedValue(f.Dict, "V");
  if (TPDFIndRef* ref = PDFAsIndRef(v))
    return std::to_string(ref->GetRefNumber()) + " " + std::to_string(ref->GetRefGeneration()) + " R";
  return PDFAsDictionary(v) ? "<<...>>" : "";
}

int cmdFields(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl fields FILE [--password P]"};
  TPavona facade;
  load(facade, o);
  std::string out;
  const int32_t count = facade.FormFieldCount();
  for (int32_t i = 1; i <= count; ++i) {
    TPavona::TFormFieldLookup found = facade.GetFormField(i);
    if (!found) continue;
    TPDFField* f = found.Field;
    const std::string value = f->GetFieldKind() == pdffkSignature ? signatureValue(*f) : escaped(f->GetValue());
    out += escaped(f->GetFullName()) + "\t" + kindName(f->GetFieldKind()) + "\t" + value + "\t" +
           std::to_string(static_cast<uint32_t>(f->GetFlags())) + "\t";
    if (f->Width > 0 || f->Height > 0)
      out +=
          number(f->Left) + " " + number(f->Top - f->Height) + " " + number(f->Left + f->Width) + " " + number(f->Top);
    out += "\n";
  }
  WriteOut(out);
  return kExitOk;
}

int cmdFill(const Options& o) {
  if (o.positional.size() < 2 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl fill FILE NAME=VALUE... --out OUT [--password P]"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  load(facade, o);
  for (size_t i = 1; i < o.positional.size(); ++i) {
    const std::string& pair = o.positional[i];
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) throw Failure{kExitUsage, "not NAME=VALUE: " + pair};
    const std::string name = pair.substr(0, eq);
    const int32_t index = facade.FindFormField(UTF8ToWide(name));
    if (index <= 0) throw Failure{kExitUsage, "no field named " + name};
    if (!facade.SetFormFieldValue(index, UTF8ToWide(pair.substr(eq + 1))))
      throw Failure{kExitUsage, "field " + name + " does not take the value " + pair.substr(eq + 1)};
  }
  if (!facade.SaveToFile(NativePathToWide(o.Value("out"))))
    throw Failure{kExitUsage, "cannot write " + o.Value("out") + ": " + CauseOf(facade)};
  return kExitOk;
}

const bool kFormCommands[] = {
    RegisterCommand("fields", "fields FILE [--password P]", cmdFields),
    RegisterCommand("fill", "fill FILE NAME=VALUE... --out OUT [--password P]", cmdFill),
};

}  // namespace
