import java.nio.charset.StandardCharsets;

/**
 * An order-sensitive 64-bit FNV-1a digest of a sequence of strings, with a count, so that two
 * engines' answers can be compared without storing them.
 */
final class AnswerDigest {
  private long hash = 0xcbf29ce484222325L;
  private long count;

  /** Adds one answer: a key. */
  void add(String value) {
    mixValue(value);
    count++;
  }

  /** Adds one answer: a whole record. */
  void addRecord(String[] record) {
    for (String value : record) {
      mixValue(value == null ? "<null>" : value);
    }
    mix(0x101);  // end of record
    count++;
  }

  private void mixValue(String value) {
    for (byte b : value.getBytes(StandardCharsets.UTF_8)) {
      mix(b & 0xff);
    }
    mix(0x100);  // separator that no byte can imitate
  }

  private void mix(int b) {
    hash ^= b;
    hash *= 0x100000001b3L;
  }

  long count() {
    return count;
  }

  String hex() {
    return String.format("%016x", hash);
  }
}
