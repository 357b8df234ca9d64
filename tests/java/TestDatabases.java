import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** Helpers shared by the Java tests: scratch directories and quick databases. */
final class TestDatabases {
  static final DatabaseMarshall DB = new DatabaseMarshall();

  private TestDatabases() {}

  static Path scratch(String name) throws IOException {
    String root = System.getenv("MERO_TEST_TMP");
    Path base = root != null ? Path.of(root) : Path.of(System.getProperty("java.io.tmpdir"));
    Files.createDirectories(base);
    return Files.createTempDirectory(base, name);
  }

  /** A fresh JVM with -Xcheck:jni and these options for main(args) of a class of these tests. */
  static ProcessBuilder childJvm(List<String> options, Class<?> mainClass, String... args) {
    List<String> command = new ArrayList<>();
    command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
    command.add("-Xcheck:jni");
    command.addAll(options);
    command.add("-cp");
    command.add(System.getProperty("mero.test.classpath", System.getProperty("java.class.path")));
    command.add(mainClass.getName());
    command.addAll(List.of(args));
    return new ProcessBuilder(command).redirectErrorStream(true);
  }

  // The standard database of the reliability tests: name (indexed, the key), city (indexed), note.
  static final String KEY = "s3cret-key";
  private static final boolean[] NO_PARTIAL = new boolean[3];
  private static final String[] NO_TERMS = {"", "", ""};

  static int createStandard(DatabaseMarshall db, String base) {
    int id = db.register(base);
    if (!db.define(id, new boolean[] {true, true, false}, new String[] {"name", "city", "note"})
        || !db.open(id, KEY, true)) {
      throw new IllegalStateException("cannot create " + base);
    }
    return id;
  }

  /** The live records in record order, each as its values. */
  static List<String[]> records(DatabaseMarshall db, int id) {
    List<String[]> out = new ArrayList<>();
    for (int position : db.find(id, NO_PARTIAL, NO_TERMS)) {
      out.add(db.getRecord(id, position));
    }
    return out;
  }

  /**
   * What disagrees between numRecs, find, getRecord and getPos, or "" when they agree: every
   * listed position reads back, and each first field leads back to its record.
   */
  static String inconsistencies(DatabaseMarshall db, int id) {
    StringBuilder problems = new StringBuilder();
    int[] positions = db.find(id, NO_PARTIAL, NO_TERMS);
    if (positions.length != db.numRecs(id)) {
      problems.append("numRecs differs from find; ");
    }
    for (int position : positions) {
      String[] values = db.getRecord(id, position);
      if (values == null || values.length != 3) {
        problems.append("record at ").append(position).append(" unreadable; ");
      } else if (db.getPos(id, values[0]) != position) {
        problems.append("key ").append(values[0]).append(" does not lead to ").append(position).append("; ");
      }
    }
    return problems.toString();
  }

  static String describe(List<String[]> records) {
    StringBuilder out = new StringBuilder().append(records.size()).append(" records:");
    for (String[] r : records) {
      out.append(' ').append(java.util.Arrays.toString(r).substring(0, Math.min(80, java.util.Arrays.toString(r).length())));
    }
    return out.toString();
  }

  static boolean hasJniWarning(String output) {
    return output.matches("(?s).*(WARNING.*JNI|WARNING in native method|FATAL ERROR in native method).*");
  }
}
