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

  /** Registers, defines and opens a database; returns its id. */
  static int create(Path dir, String name, boolean[] indexed, String key, boolean keyIndex) {
    int id = DB.register(dir.resolve(name).toString());
    if (!DB.define(id, indexed, names(indexed.length)) || !DB.open(id, key, keyIndex)) {
      throw new AssertionError("could not create " + name);
    }
    return id;
  }

  static String[] names(int n) {
    String[] names = new String[n];
    for (int i = 0; i < n; i++) {
      names[i] = "field" + i;
    }
    return names;
  }

  static boolean[] flags(int n, boolean value) {
    boolean[] flags = new boolean[n];
    java.util.Arrays.fill(flags, value);
    return flags;
  }

  static byte[] read(Path dir, String file) throws IOException {
    return Files.readAllBytes(dir.resolve(file));
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

  /** Runs main(args) of a class of these tests in a fresh JVM; returns its output lines. */
  static List<String> runInChildJvm(Class<?> mainClass, String... args) throws Exception {
    Process process = childJvm(List.of(), mainClass, args).start();
    List<String> lines = new String(process.getInputStream().readAllBytes(), "UTF-8").lines().toList();
    int status = process.waitFor();
    if (status != 0) {
      throw new AssertionError("child JVM exited with " + status + ": " + lines);
    }
    for (String line : lines) {
      if (line.contains("WARNING") && line.contains("JNI")) {
        throw new AssertionError("child JVM reported a JNI warning: " + line);
      }
    }
    return lines;
  }
}
