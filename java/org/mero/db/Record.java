package org.mero.db;

import java.util.Arrays;
import java.util.List;

/**
 * The values of one record, readable by field index or by field name. Instances are immutable
 * snapshots: a later change to the database does not alter them.
 *
 * <p>Import this class by name ({@code import org.mero.db.Record;}): through {@code
 * import org.mero.db.*;} its simple name would be ambiguous with {@code java.lang.Record}.
 */
public final class Record {
  private final Schema schema;
  private final String[] values;

  // Takes ownership of values: the arrays the library returns are fresh.
  Record(Schema schema, String[] values) {
    this.schema = schema;
    this.values = values;
  }

  /**
   * The schema the values follow.
   *
   * @return the schema of the database the record was read from
   */
  public Schema schema() {
    return schema;
  }

  /**
   * The number of values, one per field.
   *
   * @return the field count
   */
  public int size() {
    return values.length;
  }

  /**
   * The value of a field by its index.
   *
   * @param field the field's index, from 0
   * @return the value, never null (an empty value is the empty string)
   * @throws IndexOutOfBoundsException if there is no such field
   */
  public String get(int field) {
    return values[field];
  }

  /**
   * The value of a field by its name.
   *
   * @param field the field's name
   * @return the value, never null
   * @throws IllegalArgumentException if the schema has no field of that name
   */
  public String get(String field) {
    return values[schema.indexOf(field)];
  }

  /**
   * All values in field order.
   *
   * @return an unmodifiable list of the values
   */
  public List<String> values() {
    return List.of(values);
  }

  /**
   * Whether another object is a record of the same schema and values.
   *
   * @param other the object to compare with
   * @return true when equal
   */
  @Override
  public boolean equals(Object other) {
    return other instanceof Record record && schema.equals(record.schema) && Arrays.equals(values, record.values);
  }

  /**
   * A hash code consistent with {@link #equals}.
   *
   * @return the hash code
   */
  @Override
  public int hashCode() {
    return 31 * schema.hashCode() + Arrays.hashCode(values);
  }

  /**
   * The values as {@code name=value} pairs.
   *
   * @return a readable form of the record
   */
  @Override
  public String toString() {
    StringBuilder text = new StringBuilder("{");
    for (int i = 0; i < values.length; i++) {
      text.append(i > 0 ? ", " : "").append(schema.fields().get(i).name()).append('=').append(values[i]);
    }
    return text.append('}').toString();
  }
}
