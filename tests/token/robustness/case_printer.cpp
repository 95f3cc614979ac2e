#include "case_printer.h"

#include "attribute_catalogue.h"
#include "hex.h"
#include "key_catalogue.h"
#include "mechanism_catalogue.h"

#include "header_layout_table.h"

#include <cstring>
#include <set>

namespace zorvel::robustness {
namespace {

const char *const kCallNames[] = {
    "C_CreateObject", "C_CopyObject", "C_SetAttributeValue", "C_GetAttributeValue",
    "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
    "C_GenerateKey", "C_GenerateKeyPair", "C_WrapKey", "C_UnwrapKey", "C_DeriveKey",
    "C_EncryptInit", "C_Encrypt", "C_EncryptUpdate", "C_EncryptFinal",
    "C_DecryptInit", "C_Decrypt", "C_DecryptUpdate", "C_DecryptFinal",
    "C_DigestInit", "C_Digest", "C_DigestUpdate", "C_DigestFinal",
    "C_SignInit", "C_Sign", "C_SignUpdate", "C_SignFinal",
    "C_VerifyInit", "C_Verify", "C_VerifyUpdate", "C_VerifyFinal",
    "C_CloseSession",
};
static_assert(sizeof kCallNames / sizeof kCallNames[0] == static_cast<std::size_t>(Call::CloseSession) + 1,
              "a call without a name");

// Templates nested deeper than this are summarised.
constexpr unsigned kShownDepth = 3;

std::string bytesText(const Bytes &bytes) { return "[" + std::to_string(bytes.size()) + "] " + toHex(bytes); }

std::string keyValueText(const KeyValue &from) {
  std::string text = "<" + attributeName(from.attribute) + " of " + keyEntry(from.key).name;
  if (from.leadingZeros != 0) text += " behind " + std::to_string(from.leadingZeros) + " zero bytes";
  return text + ">";
}

std::string fieldText(const Field &field) {
  std::string text = field.name + "=";
  switch (field.kind) {
    case Field::Kind::Ulong:
      return text + (field.from ? "<length of " + keyValueText(*field.from) + ">" : hexNumber(field.value));
    case Field::Kind::Pointer:
      if (field.null) return text + "NULL";
      return text + "->" + (field.from ? keyValueText(*field.from) : bytesText(field.bytes));
    case Field::Kind::InlineBytes: return text + (field.from ? keyValueText(*field.from) : bytesText(field.bytes));
  }
  return text;
}

std::string mechanismText(const MechanismSpec &spec) {
  std::string text = mechanismName(spec.type) + " (" + hexNumber(spec.type) + ")";
  const Parameter &parameter = spec.parameter;
  switch (parameter.kind) {
    case Parameter::Kind::None: return text + " pParameter=NULL/0";
    case Parameter::Kind::NullWithLength:
      return text + " pParameter=NULL ulParameterLen=" + std::to_string(parameter.declaredLength.value_or(0));
    case Parameter::Kind::Record: break;
  }
  text += " " + parameter.recordName;
  if (parameter.declaredLength) text += " ulParameterLen=" + std::to_string(*parameter.declaredLength);
  text += " {";
  for (std::size_t i = 0; i < parameter.fields.size(); ++i) {
    text += (i == 0 ? "" : ", ") + fieldText(parameter.fields[i]);
  }
  return text + "}";
}

// Levels of nesting below a template, following the first nested attribute of each.
std::size_t nestingDepth(const std::vector<AttributeSpec> &attributes) {
  std::size_t deepest = 0;
  for (const AttributeSpec &spec : attributes) {
    if (spec.value.kind == AttributeValue::Kind::Nested) {
      deepest = std::max(deepest, 1 + nestingDepth(spec.value.nested));
    }
  }
  return deepest;
}

std::string attributesText(const std::vector<AttributeSpec> &attributes, unsigned depth);

std::string valueText(const AttributeValue &value, unsigned depth) {
  switch (value.kind) {
    case AttributeValue::Kind::Bytes: return bytesText(value.bytes);
    case AttributeValue::Kind::Null: return "NULL/" + std::to_string(value.length);
    case AttributeValue::Kind::Nested:
      if (depth >= kShownDepth) {
        return "template[" + std::to_string(value.nested.size()) + "]{... nested " +
               std::to_string(1 + nestingDepth(value.nested)) + " deep}";
      }
      return attributesText(value.nested, depth + 1);
    case AttributeValue::Kind::Enclosing:
      return value.levelsUp == 0 ? "<the template that holds it>"
                                 : "<the template " + std::to_string(value.levelsUp) + " level(s) out>";
    case AttributeValue::Kind::FromKey: return keyValueText(value.from);
  }
  return "";
}

std::string attributesText(const std::vector<AttributeSpec> &attributes, unsigned depth) {
  std::string text = "template[" + std::to_string(attributes.size()) + "]{";
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    text += (i == 0 ? "" : ", ") + attributeName(attributes[i].type) + "=" + valueText(attributes[i].value, depth);
  }
  return text + "}";
}

std::string templateText(const Template &t) {
  if (t.null) return "pTemplate=NULL ulCount=" + std::to_string(t.nullCount);
  return attributesText(t.attributes, 0);
}

std::string inputText(const Input &input) {
  switch (input.kind) {
    case Input::Kind::Literal: return bytesText(input.bytes);
    case Input::Kind::Null: return "NULL/" + std::to_string(input.length);
    case Input::Kind::PreviousOutput: return "<the output of the operation before>";
  }
  return "";
}

std::string outputText(const Output &output) {
  switch (output.kind) {
    case Output::Kind::Query: return "NULL (length query, *pulLen=" + std::to_string(output.length) + ")";
    case Output::Kind::Buffer: return "buffer[" + std::to_string(output.length) + "]";
    case Output::Kind::NoLength: return "pulLen=NULL";
  }
  return "";
}

void collectFeatures(const std::vector<AttributeSpec> &attributes, std::set<std::string> *features) {
  if (nestingDepth(attributes) > kShownDepth) features->insert("deep nesting");
  for (const AttributeSpec &spec : attributes) {
    const AttributeEntry *entry = findAttribute(spec.type);
    switch (spec.value.kind) {
      case AttributeValue::Kind::Enclosing: features->insert("self-containing template"); break;
      case AttributeValue::Kind::Null:
        if (spec.value.length != 0) features->insert("NULL value with a length");
        break;
      case AttributeValue::Kind::Nested:
        if (entry != nullptr && entry->kind != ValueKind::Template) features->insert("template in " + attributeName(spec.type));
        collectFeatures(spec.value.nested, features);
        break;
      case AttributeValue::Kind::Bytes:
        if (spec.type == CKA_ALLOWED_MECHANISMS && !spec.value.bytes.empty()) features->insert("CKA_ALLOWED_MECHANISMS");
        if (entry != nullptr && entry->kind == ValueKind::Unknown && (spec.type & CKF_ARRAY_ATTRIBUTE) != 0 &&
            !spec.value.bytes.empty()) {
          features->insert("bytes in an array-flagged type");
        }
        if (entry != nullptr && entry->kind == ValueKind::Template && !spec.value.bytes.empty()) {
          features->insert("bytes in a template attribute");
        }
        break;
      case AttributeValue::Kind::FromKey: break;
    }
  }
}

}  // namespace

const char *callName(Call call) { return kCallNames[static_cast<std::size_t>(call)]; }

// By the name our PKCS#11 header gives it (the header layout test's table of every
// constant it defines).
std::string returnValueName(CK_RV rv) {
  const header_layout_table constants = our_header_layout_cxx();
  for (std::size_t i = 0; i < constants.count; ++i) {
    const header_layout_entry &entry = constants.entries[i];
    if (entry.kind == HEADER_LAYOUT_CONSTANT && entry.value == rv && std::strncmp(entry.name, "CKR_", 4) == 0) {
      return entry.name;
    }
  }
  return hexNumber(rv);
}

std::string objectName(const ObjectRef &ref) {
  switch (ref.kind) {
    case ObjectRef::Kind::Key: return keyEntry(ref.key).name;
    case ObjectRef::Kind::Made: return "<object " + std::to_string(ref.made + 1) + " made by this case>";
    case ObjectRef::Kind::Handle: return "handle " + hexNumber(ref.handle);
  }
  return "";
}


std::string describeStep(const Step &step) {
  std::string text = callName(step.call);
  auto part = [&text](const char *name, const std::string &value) { text += std::string(" ") + name + "=" + value; };
  switch (step.call) {
    case Call::CreateObject:
    case Call::FindObjectsInit: part("template", templateText(step.first)); break;
    case Call::CopyObject:
    case Call::SetAttributeValue:
    case Call::GetAttributeValue:
      part("object", objectName(step.object));
      part("template", templateText(step.first));
      break;
    case Call::FindObjects:
      part("room", step.output.kind == Output::Kind::NoLength ? "pulObjectCount=NULL" : std::to_string(step.output.length));
      break;
    case Call::GenerateKey:
      part("mechanism", mechanismText(step.mechanism));
      part("template", templateText(step.first));
      break;
    case Call::GenerateKeyPair:
      part("mechanism", mechanismText(step.mechanism));
      part("public", templateText(step.first));
      part("private", templateText(step.second));
      break;
    case Call::WrapKey:
      part("mechanism", mechanismText(step.mechanism));
      part("wrappingKey", objectName(step.object));
      part("key", objectName(step.wrapped));
      part("output", outputText(step.output));
      break;
    case Call::UnwrapKey:
      part("mechanism", mechanismText(step.mechanism));
      part("unwrappingKey", objectName(step.object));
      part("wrapped", inputText(step.input));
      part("template", templateText(step.first));
      break;
    case Call::DeriveKey:
      part("mechanism", mechanismText(step.mechanism));
      part("baseKey", objectName(step.object));
      part("template", templateText(step.first));
      break;
    case Call::EncryptInit:
    case Call::DecryptInit:
    case Call::SignInit:
    case Call::VerifyInit:
      part("mechanism", mechanismText(step.mechanism));
      part("key", objectName(step.object));
      break;
    case Call::DigestInit: part("mechanism", mechanismText(step.mechanism)); break;
    case Call::Encrypt:
    case Call::Decrypt:
    case Call::Digest:
    case Call::Sign:
    case Call::EncryptUpdate:
    case Call::DecryptUpdate:
      part("data", inputText(step.input));
      part("output", outputText(step.output));
      break;
    case Call::DigestUpdate:
    case Call::SignUpdate:
    case Call::VerifyUpdate: part("data", inputText(step.input)); break;
    case Call::EncryptFinal:
    case Call::DecryptFinal:
    case Call::DigestFinal:
    case Call::SignFinal: part("output", outputText(step.output)); break;
    case Call::Verify:
      part("data", inputText(step.input));
      part("signature", inputText(step.signature));
      break;
    case Call::VerifyFinal: part("signature", inputText(step.signature)); break;
    case Call::FindObjectsFinal:
    case Call::CloseSession: break;
  }
  return text;
}

std::string describeCase(const Case &c, const std::string &indent) {
  std::string text;
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    text += indent + std::to_string(i + 1) + ". " + describeStep(c.steps[i]) + "\n";
  }
  return text;
}

std::string templateFeatures(const Step &step) {
  std::set<std::string> features;
  for (const Template *t : {&step.first, &step.second}) {
    if (t->null && t->nullCount != 0) features.insert("NULL template with a count");
    collectFeatures(t->attributes, &features);
  }
  std::string text;
  for (const std::string &feature : features) text += (text.empty() ? "" : ", ") + feature;
  return text;
}

}  // namespace zorvel::robustness
