// Shows the addon's name tables to the tests, row by row, as the compiled
// addon holds them.
#include <node.h>

#include "../../src/keys.cc"
#include "../../src/sys_win.cc"

static v8::Local<v8::String> GuidText(v8::Isolate* isolate, const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return v8::String::NewFromTwoByte(isolate, reinterpret_cast<const uint16_t*>(text));
}

// [[name, value], ...] for rows that hold a name and a value.
template <typename Row, typename MakeValue>
static v8::Local<v8::Array> Rows(v8::Isolate* isolate, const Row* rows, size_t count,
                                 MakeValue makeValue) {
  v8::Local<v8::Array> result = v8::Array::New(isolate, 0);
  for (size_t i = 0; i < count; ++i) {
    v8::Local<v8::Array> row = v8::Array::New(isolate, 0);
    row->Set(0, v8::String::NewFromUtf8(isolate, rows[i].name));
    row->Set(1, makeValue(rows[i]));
    result->Set(static_cast<uint32_t>(i), row);
  }
  return result;
}

static void keyTable(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  args.GetReturnValue().Set(Rows(isolate, s_keyTable, ARRAYSIZE(s_keyTable),
      [isolate](const KeyName& row) { return v8::Number::New(isolate, row.code); }));
}

static void knownFolderTable(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  args.GetReturnValue().Set(Rows(isolate, s_knownFolderTable, ARRAYSIZE(s_knownFolderTable),
      [isolate](const KnownFolderName& row) { return GuidText(isolate, row.id); }));
}

static void csidlTable(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  args.GetReturnValue().Set(Rows(isolate, s_csidlTable, ARRAYSIZE(s_csidlTable),
      [isolate](const SpecialFolderName& row) { return v8::Number::New(isolate, row.csidl); }));
}

static void InitTables(v8::Local<v8::Object> exports, v8::Local<v8::Value>, void*) {
  NODE_SET_METHOD(exports, "keyTable", keyTable);
  NODE_SET_METHOD(exports, "knownFolderTable", knownFolderTable);
  NODE_SET_METHOD(exports, "csidlTable", csidlTable);
}

NODE_MODULE(velmora_tables, InitTables)
