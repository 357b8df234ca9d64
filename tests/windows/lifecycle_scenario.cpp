// One database through all thirteen methods on one thread, checking every
// result and the bytes the files hold at the end.
//
// Record images are 4 + sum(4 + value length) bytes, so the positions are
// known in advance: Alice/30 at 0 (19 bytes), Bob/41 at 19 (17), alice
// smith/22 at 36 (25); Bob/4242 no longer fits at 19 and moves to 61 (19).

#include "scenario_expectations.h"
#include "scenarios.h"

using report::check;

namespace scenario {

namespace {

// indexed = [true, false], names = [name, age]
const std::string kSchemaBytes("\x02\x00\x00\x00"
                               "\x01\x04\x00\x00\x00name"
                               "\x00\x03\x00\x00\x00"
                               "age",
                               21);

void checkRegisterIds(MarshallClient& java, int firstId) {
  expectInt(firstId, 1, "first register in the process");
  const int second = java.registerName("spare");
  expectInt(second, 2, "second register");
  check(java.unregister(second), "unregister of a registered id");
  check(!java.unregister(second), "unregister of the same id again returned true");
}

void checkDefine(MarshallClient& java, int id) {
  check(java.define(id, {true, false}, {"name", "age"}), "define returned false");
  const std::string schema = fileBytes(kBaseName + ".str");
  check(schema == kSchemaBytes, "schema file is %zu bytes, not the 21 expected", schema.size());
}

void checkWrites(MarshallClient& java, int id) {
  expectInt(java.numRecs(id), 0, "numRecs of a new database");
  expectInt(java.write(id, {"Alice", "30"}), 0, "write Alice");
  expectInt(java.write(id, {"Bob", "41"}), 0, "write Bob");
  expectInt(java.write(id, {"alice smith", "22"}), 0, "write alice smith");
  expectInt(java.write(id, {"Alice", "99"}), 2, "write of a key already present");
  expectInt(java.write(id, {"Carl"}), 1, "write of one value to two fields");
  expectInt(java.write(id, {"Carl", "1", "2"}), 1, "write of three values to two fields");
  expectInt(java.numRecs(id), 3, "numRecs after three writes");
}

void checkReads(MarshallClient& java, int id) {
  expectInt(java.getPos(id, "Alice"), 0, "getPos Alice");
  expectInt(java.getPos(id, "Bob"), 19, "getPos Bob");
  expectInt(java.getPos(id, "alice smith"), 36, "getPos alice smith");
  expectInt(java.getPos(id, "ALICE"), -1, "getPos is case-sensitive");
  expectInt(java.getPos(id, "nobody"), -1, "getPos of a missing key");
  expectRecord(java.getRecord(id, 0), Record{"Alice", "30"}, "getRecord at 0");
  expectRecord(java.getRecord(id, 36), Record{"alice smith", "22"}, "getRecord at 36");
  expectRecord(java.getRecord(id, -1), std::nullopt, "getRecord at -1");
  expectRecord(java.getRecord(id, std::string("Bob")), Record{"Bob", "41"}, "getRecord by key Bob");
  expectRecord(java.getRecord(id, std::string("19")), std::nullopt, "getRecord by the key \"19\"");
  expectRecord(java.getRecord(id, std::string("nobody")), std::nullopt, "getRecord by a missing key");
}

void checkFind(MarshallClient& java, int id) {
  expectPositions(java.find(id, {false, false}, {"alice", ""}), {0}, "find whole value, other case");
  expectPositions(java.find(id, {true, false}, {"LIC", ""}), {0, 36}, "find substring");
  expectPositions(java.find(id, {false, false}, {"", "41"}), {19}, "find on the unindexed field");
  expectPositions(java.find(id, {false, true}, {"", "2"}), {36}, "find substring on the unindexed field");
  expectPositions(java.find(id, {true, true}, {"a", "3"}), {0}, "find on both fields");
  expectPositions(java.find(id, {false, false}, {"ali", ""}), {}, "find whole value that is only a prefix");
  expectPositions(java.find(id, {false}, {"Alice", ""}), {}, "find with arrays of different lengths");
}

void checkUpdates(MarshallClient& java, int id) {
  const std::string indexBefore = fileBytes(kBaseName + ".idx");
  check(java.updateRecord(id, 19, {"Bob", "42"}), "update in place returned false");
  expectInt(java.getPos(id, "Bob"), 19, "getPos after an update in place");
  expectRecord(java.getRecord(id, 19), Record{"Bob", "42"}, "record updated in place");
  check(fileBytes(kBaseName + ".idx") == indexBefore, "an update in place changed the index file");

  check(java.updateRecord(id, 19, {"Bob", "4242"}), "update that moves returned false");
  expectInt(java.getPos(id, "Bob"), 61, "getPos after the record moved");
  expectRecord(java.getRecord(id, 61), Record{"Bob", "4242"}, "moved record");
  expectRecord(java.getRecord(id, 19), Record{"Bob", "42"}, "old image at the old position");
  expectPositions(java.find(id, {false, false}, {"", "4242"}), {61}, "find the moved record");
  expectInt(java.numRecs(id), 3, "numRecs after updates");

  check(!java.updateRecord(id, 19, {"Bob", "1"}), "update at a position no longer live returned true");
  check(!java.updateRecord(id, 0, {"Alice"}), "update with one value for two fields returned true");
  check(!java.updateRecord(id, -1, {"x", "y"}), "update at -1 returned true");
}

void checkDelete(MarshallClient& java, int id) {
  check(java.deleteRecord(id, 36), "deleteRecord returned false");
  check(!java.deleteRecord(id, 36), "deleting the same record twice returned true");
  expectInt(java.numRecs(id), 2, "numRecs after delete");
  expectPositions(java.find(id, {true, false}, {"LIC", ""}), {0}, "find after delete");
  expectInt(java.getPos(id, "alice smith"), -1, "getPos of the deleted record");
}

// Null arguments come back as failure results, not crashes.
void checkNullArguments(MarshallClient& java, int id) {
  fakejni::Env& env = java.env();
  const NativeMethods& native = java.native();
  {
    NativeCall call(env, "register(null)");
    jobject self = env.newReceiver();
    env.nativeEntered();
    expectInt(native.registerName(env.jni(), self, nullptr), -1, "register(null)");
  }
  {
    NativeCall call(env, "write with a null element");
    jobject self = env.newReceiver();
    jobjectArray values = env.newStringArray({"x", std::nullopt});
    env.nativeEntered();
    expectInt(native.write(env.jni(), self, id, values), 1, "write with a null element");
  }
  {
    NativeCall call(env, "find(null, null)");
    jobject self = env.newReceiver();
    env.nativeEntered();
    expectPositions(env.intArray(native.find(env.jni(), self, id, nullptr, nullptr)), {}, "find(null, null)");
  }
  expectInt(java.numRecs(id), 2, "numRecs after calls with null arguments");
}

void checkFilesAfterClose() {
  const std::string data = fileBytes(kBaseName + ".dat");
  expectInt(static_cast<long>(data.size()), 80, "data file size");
  expectInt(int32At(data, 0), 19, "length prefix at 0");
  expectInt(int32At(data, 19), 17, "length prefix at 19");
  expectInt(int32At(data, 36), 25, "length prefix at 36");
  expectInt(int32At(data, 61), 19, "length prefix at 61");
  // Count 2, then Alice and the moved Bob; the deleted record's entry stays
  // behind the count, since the file is never shortened.
  check(fileBytes(kBaseName + ".idx") == int32Bytes({2, 0, 61, 36}), "index file bytes differ");
}

}  // namespace

void checkLifecycleResult(MarshallClient& java, int id, const char* where) {
  const std::string prefix = std::string(where) + ": ";
  expectInt(java.numRecs(id), 2, (prefix + "numRecs").c_str());
  expectInt(java.getPos(id, "Alice"), 0, (prefix + "getPos Alice").c_str());
  expectInt(java.getPos(id, "Bob"), 61, (prefix + "getPos Bob").c_str());
  expectRecord(java.getRecord(id, 0), Record{"Alice", "30"}, (prefix + "getRecord at 0").c_str());
  expectRecord(java.getRecord(id, std::string("Bob")), Record{"Bob", "4242"}, (prefix + "getRecord Bob").c_str());
  expectPositions(java.find(id, {true, false}, {"lic", ""}), {0}, (prefix + "find substring").c_str());
  expectPositions(java.find(id, {false, false}, {"BOB", "4242"}), {61}, (prefix + "find both fields").c_str());
}

void runLifecycle(const NativeMethods& native) {
  MarshallClient java(native);
  removeDatabaseFiles(kBaseName);
  const int id = java.registerName(kBaseName);
  checkRegisterIds(java, id);
  checkDefine(java, id);

  check(java.open(id, kKey, true), "open returned false");
  check(fileExists(kBaseName + ".dat") && fileBytes(kBaseName + ".dat").empty(), "open did not create an empty data file");
  check(fileExists(kBaseName + ".idx") && fileBytes(kBaseName + ".idx").empty(), "open did not create an empty index file");
  check(!java.define(id, {true}, {"other"}), "define while open returned true");
  check(fileBytes(kBaseName + ".str") == kSchemaBytes, "define while open changed the schema file");

  checkWrites(java, id);
  checkReads(java, id);
  checkFind(java, id);
  checkUpdates(java, id);
  checkDelete(java, id);
  checkNullArguments(java, id);

  check(java.close(id), "close returned false");
  expectInt(java.numRecs(id), 0, "numRecs of a closed database");
  expectRecord(java.getRecord(id, 0), std::nullopt, "getRecord of a closed database");
  checkFilesAfterClose();

  check(java.open(id, kKey, true), "reopen returned false");
  checkLifecycleResult(java, id, "after reopen");
  check(java.close(id), "second close returned false");
  check(java.unregister(id), "unregister returned false");
  check(!java.unregister(id), "unregister of an unregistered id returned true");
  check(!java.open(id, kKey, true), "open of an unregistered id returned true");
  expectInt(java.registerName(kBaseName), 3, "ids are not reused after unregister");
  java.unregister(3);
}

// Bytes that text-mode I/O would translate (LF, CR, Ctrl-Z) reach the file
// and come back unchanged. The key U+0001 adds 1 to every byte.
void runBinaryFileBytes(const NativeMethods& native) {
  MarshallClient java(native);
  const std::string base = "binary";
  removeDatabaseFiles(base);
  const int id = java.registerName(base);
  check(java.define(id, {true}, {"v"}), "binary: define");
  check(java.open(id, "\x01", false), "binary: open");
  const std::string value = "\x09\x0C\x19\x7E";  // enciphered: 0A 0D 1A 7F
  expectInt(java.write(id, {value}), 0, "binary: write");
  check(java.close(id), "binary: close");
  const std::string expected = int32Bytes({12, 4}) + "\x0A\x0D\x1A\x7F";
  check(fileBytes(base + ".dat") == expected, "binary: data file bytes differ (text-mode translation?)");
  check(java.open(id, "\x01", false), "binary: reopen");
  expectRecord(java.getRecord(id, 0), Record{value}, "binary: value read back");
  expectPositions(java.find(id, {false}, {value}), {0}, "binary: find");
  java.close(id);
  java.unregister(id);
}

}  // namespace scenario
