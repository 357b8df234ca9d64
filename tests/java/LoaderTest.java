import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.time.Instant;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.jar.JarFile;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;
import org.junit.jupiter.api.Test;

/**
 * The loader picks the library the jar carries for the running system, the jar carries the DLL as
 * well, and JVMs loading the library from the jar leave the temporary folder clean, also when
 * killed.
 */
class LoaderTest {
  private static final String WINDOWS_DLL = "native/windows-x86_64/MERO_Database.dll";
  private static final String LINUX_SO = "native/linux-x86_64/libMERO_Database.so";

  @Test
  void picksTheWindowsDllOnWindowsX64() {
    assertEquals(WINDOWS_DLL, DatabaseMarshallLoader.resourcePathFor("Windows 10", "amd64"));
    assertEquals(WINDOWS_DLL, DatabaseMarshallLoader.resourcePathFor("Windows 11", "amd64"));
    assertEquals(WINDOWS_DLL, DatabaseMarshallLoader.resourcePathFor("Windows Server 2022", "AMD64"));
  }

  @Test
  void picksTheSharedLibraryOnLinuxX64() {
    assertEquals(LINUX_SO, DatabaseMarshallLoader.resourcePathFor("Linux", "amd64"));
    assertEquals(LINUX_SO, DatabaseMarshallLoader.resourcePathFor("Linux", "x86_64"));
  }

  @Test
  void carriesNothingForOtherSystems() {
    assertNull(DatabaseMarshallLoader.resourcePathFor("Mac OS X", "x86_64"));
    assertNull(DatabaseMarshallLoader.resourcePathFor("Mac OS X", "aarch64"));
    assertNull(DatabaseMarshallLoader.resourcePathFor("Linux", "aarch64"));
    assertNull(DatabaseMarshallLoader.resourcePathFor("Windows 11", "aarch64"));
    assertNull(DatabaseMarshallLoader.resourcePathFor("Windows 10", "x86"));
    assertNull(DatabaseMarshallLoader.resourcePathFor(null, "amd64"));
    assertNull(DatabaseMarshallLoader.resourcePathFor("Linux", null));
  }

  @Test
  void jarCarriesTheWindowsDllWhereTheLoaderLooks() throws IOException {
    try (JarFile jar = new JarFile(jarPath().toFile())) {
      String entry = DatabaseMarshallLoader.resourcePathFor("Windows 10", "amd64");
      assumeTrue(jar.getEntry(entry) != null || mingwInstalled(),
          "MinGW-w64 is not installed here, so no DLL was built");
      byte[] dos = header(jar, entry, 64);
      assertArrayEquals(new byte[] {'M', 'Z'}, slice(dos, 0, 2), "not a Windows executable");
      int peOffset = littleEndianInt(dos, 0x3C);
      byte[] pe = header(jar, entry, peOffset + 6);
      assertArrayEquals(new byte[] {'P', 'E', 0, 0}, slice(pe, peOffset, 4), "no PE signature");
      assertEquals(0x8664, (pe[peOffset + 4] & 0xFF) | (pe[peOffset + 5] & 0xFF) << 8,
          "not built for x86-64");
    }
  }

  @Test
  void extractionLeavesNothingBehindAfterNormalAndKilledRuns() throws Exception {
    Path tmp = TestDatabases.scratch("loader-tmp");
    List<String> tmpdir = List.of("-Djava.io.tmpdir=" + tmp);
    // Started together, so that they race to extract; two are killed once they have loaded.
    List<Process> runs = new ArrayList<>();
    for (int i = 0; i < 4; i++) {
      runs.add(TestDatabases.childJvm(tmpdir, Child.class, i < 2 ? "wait" : "exit").start());
    }
    for (int i = 0; i < runs.size(); i++) {
      Process run = runs.get(i);
      assertEquals("loaded", new BufferedReader(new InputStreamReader(run.getInputStream())).readLine());
      if (i < 2) {
        run.destroyForcibly();
      }
      assertEquals(i < 2 ? 128 + 9 : 0, run.waitFor());
    }
    List<Path> entries = list(tmp);
    assertEquals(1, entries.size(), "one folder of our own: " + entries);
    Path own = entries.get(0);
    assertEquals(List.of(), list(own), "Linux deletes the copy once it is loaded");

    // What kills during an extraction and older versions leave; an extraction in progress stays.
    Path abandoned = Files.write(own.resolve("libMERO_Database.so-1.part"), new byte[] {1});
    Files.setLastModifiedTime(abandoned, FileTime.from(Instant.now().minusSeconds(3600)));
    Files.write(own.resolve("libMERO_Database-0123456789abcdef.so"), new byte[] {1});
    Path inProgress = Files.write(own.resolve("libMERO_Database.so-2.part"), new byte[] {1});
    run(0, "loaded", tmpdir.get(0));
    assertEquals(List.of(inProgress), list(own));
  }

  @Test
  void propertiesNameTheFolderOrTheLibrary() throws Exception {
    Path unused = TestDatabases.scratch("loader-unused");
    Path chosen = TestDatabases.scratch("loader-chosen");
    Path library = chosen.resolve("explicit.so");
    try (JarFile jar = new JarFile(jarPath().toFile());
        InputStream in = jar.getInputStream(jar.getEntry(LINUX_SO))) {
      Files.copy(in, library);
    }
    String tmpdir = "-Djava.io.tmpdir=" + unused;
    run(0, "loaded", tmpdir, "-Dmero.library.path=" + library);
    run(0, "loaded", tmpdir, "-Dmero.tmpdir=" + chosen.resolve("new"));
    assertEquals(List.of(), list(unused));
    assertEquals(1, list(chosen.resolve("new")).size());
    run(1, "set -Dmero.tmpdir", tmpdir, "-Dmero.tmpdir=" + library.resolve("not-a-folder"));
  }

  @Test
  void aWrongFileUnderTheCopysNameIsNotLoaded() throws Exception {
    Path tmp = TestDatabases.scratch("loader-planted");
    byte[] library;
    try (JarFile jar = new JarFile(jarPath().toFile());
        InputStream in = jar.getInputStream(jar.getEntry(LINUX_SO))) {
      library = in.readAllBytes();
    }
    // The loader's name for its copy: the library's name and the first half of its SHA-256.
    String hash = HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(library), 0, 16);
    Path own = tmp.resolve("mero-database-" + System.getProperty("user.name").replaceAll("[^A-Za-z0-9._-]", "_"));
    Files.createDirectory(own, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
    Files.write(own.resolve("libMERO_Database-" + hash + ".so"), new byte[library.length]);
    run(0, "loaded", "-Djava.io.tmpdir=" + tmp);
    assertEquals(List.of(), list(own));
  }

  /** Loads the library in a child JVM, says so once it answers, then exits or waits to be killed. */
  static final class Child {
    public static void main(String[] args) throws IOException {
      System.out.println(new DatabaseMarshall().register("probe") == 1 ? "loaded" : "the library does not answer");
      if (args[0].equals("wait")) {
        System.in.read();
      }
    }
  }

  private static void run(int status, String expectedOutput, String... options) throws Exception {
    Process run = TestDatabases.childJvm(List.of(options), Child.class, "exit").start();
    String output = new String(run.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    assertEquals(status, run.waitFor(), output);
    assertTrue(output.contains(expectedOutput), output);
  }

  private static List<Path> list(Path dir) throws IOException {
    try (Stream<Path> entries = Files.list(dir)) {
      return entries.toList();
    }
  }

  /** The jar under test: -Dmero.jar, else the jar DatabaseMarshall was loaded from. */
  private static Path jarPath() {
    String property = System.getProperty("mero.jar");
    if (property != null) {
      return Path.of(property);
    }
    try {
      Path source = Path.of(DatabaseMarshall.class.getProtectionDomain().getCodeSource().getLocation().toURI());
      assertTrue(Files.isRegularFile(source), "DatabaseMarshall was not loaded from a jar: " + source);
      return source;
    } catch (URISyntaxException e) {
      throw new AssertionError(e);
    }
  }

  private static byte[] header(JarFile jar, String name, int length) throws IOException {
    assertNotNull(name, "the loader names no entry");
    ZipEntry entry = jar.getEntry(name);
    assertNotNull(entry, "the jar has no " + name);
    try (InputStream in = jar.getInputStream(entry)) {
      byte[] bytes = in.readNBytes(length);
      assertEquals(length, bytes.length, name + " is too short");
      return bytes;
    }
  }

  private static byte[] slice(byte[] bytes, int from, int length) {
    byte[] part = new byte[length];
    System.arraycopy(bytes, from, part, 0, length);
    return part;
  }

  private static int littleEndianInt(byte[] bytes, int at) {
    return (bytes[at] & 0xFF) | (bytes[at + 1] & 0xFF) << 8 | (bytes[at + 2] & 0xFF) << 16
        | (bytes[at + 3] & 0xFF) << 24;
  }

  private static boolean mingwInstalled() {
    String path = System.getenv("PATH");
    if (path == null) {
      return false;
    }
    for (String dir : path.split(File.pathSeparator)) {
      if (Files.isExecutable(Path.of(dir, "x86_64-w64-mingw32-g++"))) {
        return true;
      }
    }
    return false;
  }
}
