import java.io.File;
import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** Shared by the crash, fault, thread and hostile-input tests. */
final class ReliabilitySupport {
  static final String KEY = "s3cret-key";
  static final boolean[] NO_PARTIAL = new boolean[3];
  static final String[] NO_TERMS = {"", "", ""};

  private ReliabilitySupport() {}

  /** A fresh directory under $MERO_TEST_TMP (ctest sets it to build/test-tmp). */
  static Path freshDir(String prefix) throws IOException {
    String root = System.getenv("MERO_TEST_TMP");
    Path parent = Path.of(root != null && !root.isEmpty() ? root : System.getProperty("java.io.tmpdir"));
    Files.createDirectories(parent);
    return Files.createTempDirectory(parent, prefix);
  }

  /** Registers base, defines name (indexed, the key), city (indexed), note, and opens it. */
  static int createOpen(DatabaseMarshall db, String base) {
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
   * listed position appears once and reads back, and each first field leads back to its record.
   */
  static String inconsistencies(DatabaseMarshall db, int id) {
    StringBuilder problems = new StringBuilder();
    int[] positions = db.find(id, NO_PARTIAL, NO_TERMS);
    if (positions.length != db.numRecs(id)) {
      problems.append("numRecs ").append(db.numRecs(id)).append(" but find lists ").append(positions.length).append("; ");
    }
    Set<Integer> seen = new HashSet<>();
    Set<String> keys = new HashSet<>();
    for (int position : positions) {
      if (!seen.add(position)) {
        problems.append("position ").append(position).append(" listed twice; ");
      }
      String[] values = db.getRecord(id, position);
      if (values == null || values.length != 3) {
        problems.append("record at ").append(position).append(" unreadable; ");
        continue;
      }
      if (!keys.add(values[0])) {
        problems.append("record ").append(values[0]).append(" appears twice; ");
      }
      if (db.getPos(id, values[0]) != position) {
        problems.append("key ").append(values[0]).append(" does not lead to ").append(position).append("; ");
      }
    }
    return problems.toString();
  }

  static boolean sameRecords(List<String[]> a, List<String[]> b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (int i = 0; i < a.size(); i++) {
      if (!Arrays.equals(a.get(i), b.get(i))) {
        return false;
      }
    }
    return true;
  }

  static List<String[]> valuesOf(Map<String, String[]> model) {
    return new ArrayList<>(model.values());
  }

  static String describe(List<String[]> records) {
    StringBuilder out = new StringBuilder().append(records.size()).append(" records:");
    for (String[] r : records) {
      out.append(' ').append(Arrays.toString(r));
    }
    return out.toString();
  }

  /**
   * A child JVM, run as the tests run (with -Xcheck:jni), that loads the native library from
   * libraryDir and runs mainClass from the jar and test classes this JVM loaded.
   */
  static ProcessBuilder childJvm(Path workDir, String libraryDir, Class<?> mainClass, String... args) {
    List<String> command = new ArrayList<>();
    command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
    command.addAll(List.of("-Xcheck:jni", "-XX:TieredStopAtLevel=1", "-XX:+UseSerialGC", "-XX:-UsePerfData",
        "-Xshare:auto", "-XX:ErrorFile=" + workDir.resolve("hs_err_%p.log"),
        "-Djava.library.path=" + libraryDir,
        "-cp", codeSource(DatabaseMarshall.class) + File.pathSeparator + codeSource(mainClass),
        mainClass.getName()));
    command.addAll(List.of(args));
    return new ProcessBuilder(command).directory(workDir.toFile());
  }

  /** The directory given by an environment variable that ctest sets. */
  static String requiredDir(String variable) {
    String dir = System.getenv(variable);
    if (dir == null || !Files.isDirectory(Path.of(dir))) {
      throw new IllegalStateException(variable + " must name a directory (ctest sets it)");
    }
    return dir;
  }

  static boolean hasJniWarning(String output) {
    return output.matches("(?s).*(WARNING.*JNI|WARNING in native method|FATAL ERROR in native method).*");
  }

  private static String codeSource(Class<?> type) {
    try {
      return Path.of(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    } catch (URISyntaxException e) {
      throw new IllegalStateException(e);
    }
  }
}
