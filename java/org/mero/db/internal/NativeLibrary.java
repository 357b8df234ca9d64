package org.mero.db.internal;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.nio.file.attribute.UserPrincipalNotFoundException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.time.Duration;
import java.time.Instant;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.Locale;

/**
 * Loads one of the jar's native libraries: the file named by its path property when that is set,
 * else from java.library.path when it is there, else the copy that the jar carries for the running
 * system. Internal to this jar: not part of its interface.
 *
 * <p>That copy is extracted into a folder of our own under -Dmero.tmpdir (default java.io.tmpdir),
 * to a name made of a hash of its bytes, so every JVM running this jar agrees on it. It is written
 * to a unique temporary name and renamed into place, so JVMs starting together never see half a
 * library. On Windows a loaded DLL cannot be deleted, so the copy stays for later runs; elsewhere it
 * is deleted once loaded. Each start sweeps copies of other versions and the temporary files of
 * extractions that a kill cut short.
 */
public final class NativeLibrary {
  /** The folder under which copies are extracted (default java.io.tmpdir). */
  public static final String TMPDIR_PROPERTY = "mero.tmpdir";
  private static final String PART_SUFFIX = ".part";
  // An extraction writes about a megabyte: a partial file this old belongs to a dead process.
  private static final Duration ABANDONED_AFTER = Duration.ofMinutes(10);
  // Another JVM may load and delete the shared copy between our rename and our load.
  private static final int LOAD_ATTEMPTS = 3;

  private final String library;
  private final String pathProperty;

  /**
   * A library of the jar.
   *
   * @param library its name without prefix or suffix, as System.loadLibrary takes it
   * @param pathProperty the system property that names its file instead
   */
  public NativeLibrary(String library, String pathProperty) {
    this.library = library;
    this.pathProperty = pathProperty;
  }

  /** Loads the library into the class loader of this jar's classes, or throws UnsatisfiedLinkError. */
  public void load() {
    String explicit = System.getProperty(pathProperty);
    if (explicit != null) {
      loadExplicit(Path.of(explicit).toAbsolutePath());
      return;
    }
    try {
      System.loadLibrary(library);
    } catch (UnsatisfiedLinkError notOnPath) {
      if (alreadyLoadedElsewhere(notOnPath)) {
        throw anotherClassLoader(notOnPath);
      }
      String resource = resourcePathFor(System.getProperty("os.name"), System.getProperty("os.arch"));
      if (resource == null) {
        throw new UnsatisfiedLinkError(
            library + " is not on java.library.path and this jar carries no copy for "
                + System.getProperty("os.name") + " " + System.getProperty("os.arch")
                + "; set -D" + pathProperty + " to the library");
      }
      loadExtracted(resource);
    }
  }

  /**
   * The jar entry of the library for a system, or null when the jar carries none for it.
   *
   * @param osName the system's os.name
   * @param osArch the system's os.arch
   * @return the entry's path in the jar, or null
   */
  public String resourcePathFor(String osName, String osArch) {
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
      return "native/windows-x86_64/" + library + ".dll";
    }
    if (os.startsWith("linux")) {
      return "native/linux-x86_64/lib" + library + ".so";
    }
    return null;
  }

  private void loadExplicit(Path file) {
    try {
      System.load(file.toString());
    } catch (UnsatisfiedLinkError e) {
      if (alreadyLoadedElsewhere(e)) {
        throw anotherClassLoader(e);
      }
      throw failure("cannot load " + file + " named by -D" + pathProperty + ": " + e.getMessage(), e);
    }
  }

  // The JVM lets one class loader at a time hold a library file.
  private static boolean alreadyLoadedElsewhere(UnsatisfiedLinkError e) {
    return e.getMessage() != null && e.getMessage().contains("already loaded in another classloader");
  }

  private UnsatisfiedLinkError anotherClassLoader(UnsatisfiedLinkError e) {
    return failure(library + " is already loaded by another class loader of this JVM: the jar's classes can be "
        + "loaded once per JVM; put the jar on the class path of a loader that both users share", e);
  }

  private void loadExtracted(String resource) {
    boolean windows = System.getProperty("os.name").toLowerCase(Locale.ROOT).startsWith("windows");
    byte[] bytes = readResource(resource);
    String fileName = resource.substring(resource.lastIndexOf('/') + 1);
    int dot = fileName.lastIndexOf('.');
    String copyName = fileName.substring(0, dot) + "-" + hash(bytes) + fileName.substring(dot);
    Path dir = ownFolder();
    sweep(dir, fileName.substring(0, dot) + "-", copyName);
    Path copy = dir.resolve(copyName);
    try {
      for (int attempt = 1; ; attempt++) {
        try {
          if (!holds(copy, bytes)) {
            extract(bytes, dir, fileName, copy);
          }
          System.load(copy.toString());
          return;
        } catch (UnsatisfiedLinkError e) {
          if (alreadyLoadedElsewhere(e)) {
            throw anotherClassLoader(e);
          }
          if (Files.exists(copy) || attempt == LOAD_ATTEMPTS) {
            throw failure(e.getMessage() + ". If " + dir + " is mounted noexec, set -D" + TMPDIR_PROPERTY
                + " to a folder that allows running code, or -D" + pathProperty + " to the library", e);
          }
        } catch (IOException e) {
          throw notWritable(dir, e);
        }
      }
    } finally {
      if (!windows) {
        try {
          Files.deleteIfExists(copy);
        } catch (IOException ignored) {
          // The next start reuses it, and deletes it then.
        }
      }
    }
  }

  private static byte[] readResource(String resource) {
    try (InputStream in = NativeLibrary.class.getClassLoader().getResourceAsStream(resource)) {
      if (in == null) {
        throw new UnsatisfiedLinkError("the jar has no " + resource);
      }
      return in.readAllBytes();
    } catch (IOException e) {
      throw failure("cannot read " + resource + " from the jar: " + e, e);
    }
  }

  private static String hash(byte[] bytes) {
    try {
      byte[] digest = MessageDigest.getInstance("SHA-256").digest(bytes);
      return HexFormat.of().formatHex(digest, 0, 16);
    } catch (NoSuchAlgorithmException e) {
      throw new IllegalStateException("every JVM has SHA-256", e);
    }
  }

  /**
   * The folder for extracted copies, one per user so that users sharing a temporary folder do not
   * share libraries. Where permissions are POSIX it is the user's alone; a folder that others may
   * write could hand us their code, so it is refused.
   */
  private Path ownFolder() {
    String base = System.getProperty(TMPDIR_PROPERTY, System.getProperty("java.io.tmpdir"));
    String user = System.getProperty("user.name", "").replaceAll("[^A-Za-z0-9._-]", "_");
    Path dir = Path.of(base).toAbsolutePath().resolve("mero-database-" + user);
    try {
      Files.createDirectories(dir.getParent());
      if (dir.getFileSystem().supportedFileAttributeViews().contains("posix")) {
        try {
          Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
        } catch (FileAlreadyExistsException exists) {
          if (!onlyOursToWrite(dir)) {
            throw failure(dir + " is not a folder that only we may write; set -D" + TMPDIR_PROPERTY
                + " to another folder", null);
          }
        }
      } else {
        Files.createDirectories(dir);
      }
      return dir;
    } catch (IOException e) {
      throw notWritable(dir, e);
    }
  }

  private static boolean onlyOursToWrite(Path dir) throws IOException {
    PosixFileAttributes attributes = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
    if (!attributes.isDirectory() || attributes.permissions().contains(PosixFilePermission.GROUP_WRITE)
        || attributes.permissions().contains(PosixFilePermission.OTHERS_WRITE)) {
      return false;
    }
    try {
      UserPrincipal us = dir.getFileSystem().getUserPrincipalLookupService()
          .lookupPrincipalByName(System.getProperty("user.name"));
      return attributes.owner().equals(us);
    } catch (UserPrincipalNotFoundException nameless) {
      return true;  // a user without a name in the user database: nothing to compare with
    }
  }

  /**
   * Deletes partial files abandoned by killed extractions and copies of other versions of the
   * library. A copy that another JVM is using stays: Windows refuses to delete it, and elsewhere
   * copies live only between their rename and their load.
   */
  private void sweep(Path dir, String copyPrefix, String currentCopy) {
    FileTime abandoned = FileTime.from(Instant.now().minus(ABANDONED_AFTER));
    try (DirectoryStream<Path> entries = Files.newDirectoryStream(dir)) {
      for (Path entry : entries) {
        String name = entry.getFileName().toString();
        try {
          boolean stale = name.endsWith(PART_SUFFIX)
              ? Files.getLastModifiedTime(entry).compareTo(abandoned) < 0
              : name.startsWith(copyPrefix) && !name.equals(currentCopy);
          if (stale) {
            Files.deleteIfExists(entry);
          }
        } catch (IOException inUse) {
          // Left for a later start.
        }
      }
    } catch (IOException e) {
      throw notWritable(dir, e);
    }
  }

  private static boolean holds(Path copy, byte[] bytes) throws IOException {
    try {
      return Files.size(copy) == bytes.length && Arrays.equals(Files.readAllBytes(copy), bytes);
    } catch (NoSuchFileException absent) {
      return false;
    }
  }

  /** Writes the bytes under a unique name and renames that onto the copy in one step. */
  private static void extract(byte[] bytes, Path dir, String fileName, Path copy) throws IOException {
    Path part = Files.createTempFile(dir, fileName + "-", PART_SUFFIX);
    try {
      Files.write(part, bytes);
      Files.move(part, copy, StandardCopyOption.ATOMIC_MOVE);
    } catch (IOException e) {
      Files.deleteIfExists(part);
      // Windows refuses to replace a copy another JVM has loaded; that copy serves as well.
      if (!holds(copy, bytes)) {
        throw e;
      }
    }
  }

  private UnsatisfiedLinkError notWritable(Path dir, IOException e) {
    return failure("cannot extract " + library + " into " + dir + ": " + e + "; set -D" + TMPDIR_PROPERTY
        + " to a writable folder, or -D" + pathProperty + " to the library", e);
  }

  private static UnsatisfiedLinkError failure(String message, Throwable cause) {
    UnsatisfiedLinkError error = new UnsatisfiedLinkError(message);
    if (cause != null) {
      error.initCause(cause);
    }
    return error;
  }
}
