package org.mero.db;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The changes of one {@link Database#batch} call, collected in order and run together when the
 * body returns. Each method checks its arguments at once and throws as {@link Database#append},
 * {@link Database#update} and {@link Database#delete} do; nothing reaches the files until the
 * batch runs.
 */
public final class Batch {
  static final int APPEND = 0;
  static final int UPDATE = 1;
  static final int DELETE = 2;

  private final Schema schema;
  private int[] kinds = new int[16];
  private int[] positions = new int[16];
  private final List<String> values = new ArrayList<>();
  private int size;

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
    if (kind != DELETE) {
      values.addAll(Arrays.asList(Database.checkedCopy(schema, given)));
    }
    if (size == kinds.length) {
      kinds = Arrays.copyOf(kinds, size * 2);
      positions = Arrays.copyOf(positions, size * 2);
    }
    kinds[size] = kind;
    positions[size] = position;
    size++;
    return this;
  }

  int kind(int operation) {
    return kinds[operation];
  }

  int[] kinds() {
    return Arrays.copyOf(kinds, size);
  }

  int[] positions() {
    return Arrays.copyOf(positions, size);
  }

  String[] values() {
    return values.toArray(new String[0]);
  }

  /** The values of the append or update that is operation {@code operation}. */
  String[] valuesOf(int operation) {
    int start = 0;
    for (int i = 0; i < operation; i++) {
      start += kinds[i] == DELETE ? 0 : schema.size();
    }
    return values.subList(start, start + schema.size()).toArray(new String[0]);
  }
}
