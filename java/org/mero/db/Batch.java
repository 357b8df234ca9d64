package org.mero.db;

import java.util.Arrays;

/**
 * The changes of one {@link Database#batch} call, collected in order and run together when the
 * body returns. Each method checks its arguments at once and throws as {@link Database#append},
 * {@link Database#update} and {@link Database#delete} do; nothing reaches the files until the
 * batch runs.
 *
 * <p>Values are kept as the bytes the library stores (modified UTF-8, as JNI's GetStringUTFChars
 * gives them), so that a batch reaches the library as one byte array rather than one string per
 * value.
 */
public final class Batch {
  static final int APPEND = 0;
  static final int UPDATE = 1;
  static final int DELETE = 2;

  private final Schema schema;
  private int[] kinds = new int[16];
  private int[] positions = new int[16];
  private String[] keys = new String[16];  // per change: its first value, for messages
  private int size;
  private byte[] bytes = new byte[1024];
  private int byteCount;
  private int[] lengths = new int[64];
  private int valueCount;

  Batch(Schema schema) {
    this.schema = schema;
  }

  /**
   * Adds an append.
   *
   * @param values one value per field, in schema order
   * @return this batch
   * @throws IllegalArgumentException if the number of values differs from the field count, or a
   *     value is null
   */
  public Batch append(String... values) {
    return add(APPEND, 0, values);
  }

  /**
   * Adds an update of the record at a position.
   *
   * @param position the record's position, as it stands when the batch runs
   * @param values one value per field, in schema order
   * @return this batch
   * @throws IllegalArgumentException if the number of values differs from the field count, or a
   *     value is null
   */
  public Batch update(int position, String... values) {
    return add(UPDATE, position, values);
  }

  /**
   * Adds a delete of the record at a position.
   *
   * @param position the record's position, as it stands when the batch runs
   * @return this batch
   */
  public Batch delete(int position) {
    return add(DELETE, position, null);
  }

  /**
   * The number of changes added so far.
   *
   * @return the count
   */
  public int size() {
    return size;
  }

  private Batch add(int kind, int position, String[] given) {
    String key = "";
    if (kind != DELETE) {
      String[] values = Database.checkedCopy(schema, given);
      for (String value : values) {
        encode(value);
      }
      key = values.length > 0 ? values[0] : "";
    }
    if (size == kinds.length) {
      kinds = Arrays.copyOf(kinds, size * 2);
      positions = Arrays.copyOf(positions, size * 2);
      keys = Arrays.copyOf(keys, size * 2);
    }
    kinds[size] = kind;
    positions[size] = position;
    keys[size] = key;
    size++;
    return this;
  }

  // Modified UTF-8: U+0000 as two bytes, each half of a surrogate pair as three.
  private void encode(String value) {
    int n = value.length();
    if (bytes.length - byteCount < 3 * n) {
      bytes = Arrays.copyOf(bytes, Math.max(2 * bytes.length, byteCount + 3 * n));
    }
    int start = byteCount;
    for (int i = 0; i < n; i++) {
      char c = value.charAt(i);
      if (c >= 0x01 && c <= 0x7F) {
        bytes[byteCount++] = (byte) c;
      } else if (c < 0x800) {
        bytes[byteCount++] = (byte) (0xC0 | (c >> 6));
        bytes[byteCount++] = (byte) (0x80 | (c & 0x3F));
      } else {
        bytes[byteCount++] = (byte) (0xE0 | (c >> 12));
        bytes[byteCount++] = (byte) (0x80 | ((c >> 6) & 0x3F));
        bytes[byteCount++] = (byte) (0x80 | (c & 0x3F));
      }
    }
    if (valueCount == lengths.length) {
      lengths = Arrays.copyOf(lengths, valueCount * 2);
    }
    lengths[valueCount++] = byteCount - start;
  }

  int[] kinds() {
    return Arrays.copyOf(kinds, size);
  }

  int[] positions() {
    return Arrays.copyOf(positions, size);
  }

  byte[] bytes() {
    return Arrays.copyOf(bytes, byteCount);
  }

  int[] lengths() {
    return Arrays.copyOf(lengths, valueCount);
  }

  /** The first value of change {@code operation} (empty for a delete). */
  String keyOf(int operation) {
    return keys[operation];
  }
}
