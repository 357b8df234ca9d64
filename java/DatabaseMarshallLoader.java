import org.mero.db.internal.NativeLibrary;

/**
 * Loads MERO_Database for DatabaseMarshall: the file named by -Dmero.library.path when it is set,
 * else from java.library.path when it is there, else the copy that the jar carries for the running
 * system (see {@link NativeLibrary}, which the packaged API's library shares).
 */
final class DatabaseMarshallLoader {
  static final String LIBRARY = "MERO_Database";
  static final String LIBRARY_PATH_PROPERTY = "mero.library.path";
  static final String TMPDIR_PROPERTY = NativeLibrary.TMPDIR_PROPERTY;
  private static final NativeLibrary NATIVE = new NativeLibrary(LIBRARY, LIBRARY_PATH_PROPERTY);

  private DatabaseMarshallLoader() {}

  static void load() {
    NATIVE.load();
  }

  /** The jar entry of the library for a system, or null when the jar carries none for it. */
  static String resourcePathFor(String osName, String osArch) {
    return NATIVE.resourcePathFor(osName, osArch);
  }
}
