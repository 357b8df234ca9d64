import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Locale;

/**
 * Loads the native library: from java.library.path when it is there, otherwise the copy that the
 * jar carries for the running system, extracted to a temporary file.
 */
final class DatabaseMarshallLoader {
  static final String LIBRARY = "MERO_Database";

  private DatabaseMarshallLoader() {}

  static void load() {
    try {
      System.loadLibrary(LIBRARY);
      return;
    } catch (UnsatisfiedLinkError notOnPath) {
      String resource = resourcePathFor(System.getProperty("os.name"), System.getProperty("os.arch"));
      if (resource == null) {
        throw new UnsatisfiedLinkError(
            LIBRARY + " is not on java.library.path and this jar carries no copy for "
                + System.getProperty("os.name") + " " + System.getProperty("os.arch"));
      }
      System.load(extract(resource).toString());
    }
  }

  /** The jar entry of the library for a system, or null when the jar carries none for it. */
  static String resourcePathFor(String osName, String osArch) {
    if (osName == null || osArch == null) {
      return null;
    }
    String os = osName.toLowerCase(Locale.ROOT);
    String arch = osArch.toLowerCase(Locale.ROOT);
    boolean x64 = arch.equals("amd64") || arch.equals("x86_64") || arch.equals("x64");
    if (!x64) {
      return null;
    }
    if (os.startsWith("windows")) {
      return "native/windows-x86_64/" + LIBRARY + ".dll";
    }
    if (os.startsWith("linux")) {
      return "native/linux-x86_64/lib" + LIBRARY + ".so";
    }
    return null;
  }

  private static Path extract(String resource) {
    try (InputStream in = DatabaseMarshallLoader.class.getClassLoader().getResourceAsStream(resource)) {
      if (in == null) {
        throw new UnsatisfiedLinkError("the jar has no " + resource);
      }
      Path dir = Files.createTempDirectory("mero-database");
      Path file = dir.resolve(resource.substring(resource.lastIndexOf('/') + 1));
      Files.copy(in, file, StandardCopyOption.REPLACE_EXISTING);
      file.toFile().deleteOnExit();
      dir.toFile().deleteOnExit();
      return file;
    } catch (IOException e) {
      UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot extract " + resource + ": " + e);
      error.initCause(e);
      throw error;
    }
  }
}
