import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * This JVM's memory as the kernel counts it: native allocations (an engine's own C or C++
 * memory included) as well as the Java heap. Linux only; -1 elsewhere.
 */
final class ProcessMemory {
  private ProcessMemory() {}

  /** A "Vm..." line of /proc/self/status in KiB, e.g. VmHWM (peak resident) or VmRSS. */
  static long kib(String field) {
    try {
      for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
        if (line.startsWith(field + ":")) {
          return Long.parseLong(line.substring(field.length() + 1).replace("kB", "").trim());
        }
      }
    } catch (IOException | NumberFormatException e) {
      return -1;
    }
    return -1;
  }

  /** Java heap in use after a full collection: the live objects, in KiB. */
  static long liveHeapKib() {
    Runtime runtime = Runtime.getRuntime();
    for (int i = 0; i < 3; i++) {
      System.gc();
    }
    return (runtime.totalMemory() - runtime.freeMemory()) / 1024;
  }
}
