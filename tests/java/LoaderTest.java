import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.jar.JarFile;
import java.util.zip.ZipEntry;
import org.junit.jupiter.api.Test;

/** The loader picks the library the jar carries for the running system, and the jar carries both. */
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
  void jarCarriesTheLinuxLibraryWhereTheLoaderLooks() throws IOException {
    try (JarFile jar = new JarFile(jarPath().toFile())) {
      byte[] header = header(jar, DatabaseMarshallLoader.resourcePathFor("Linux", "amd64"), 20);
      assertArrayEquals(new byte[] {0x7F, 'E', 'L', 'F'}, slice(header, 0, 4), "not an ELF file");
      assertEquals(2, header[4], "not a 64-bit ELF file");
      assertEquals(0x3E, (header[18] & 0xFF) | (header[19] & 0xFF) << 8, "not built for x86-64");
    }
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
