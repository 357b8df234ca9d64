package org.mero.db;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;

/**
 * The fields of a database: their names, in order, and whether each is indexed for searching.
 *
 * <p>Every value of a record is a string. The first field is the key when a database is opened
 * with the key index. A schema is fixed when a database is created; later opens must give the same
 * one. Instances are immutable.
 *
 * <pre>{@code
 * Schema people = Schema.builder().field("name", true).field("city", true).field("note", false).build();
 * }</pre>
 */
public final class Schema {
  /**
   * One field of a schema.
   *
   * @param name the field's name, unique within its schema
   * @param indexed whether the field's values are kept in memory for fast searching
   */
  public record Field(String name, boolean indexed) {
    /**
     * Creates a field.
     *
     * @param name the field's name
     * @param indexed whether the field is indexed for searching
     * @throws NullPointerException if {@code name} is null
     */
    public Field {
      Objects.requireNonNull(name, "name");
    }
  }

  private final List<Field> fields;
  private final Map<String, Integer> indexByName;

  private Schema(List<Field> fields) {
    this.fields = List.copyOf(fields);
    this.indexByName = new HashMap<>();
    for (int i = 0; i < this.fields.size(); i++) {
      if (indexByName.putIfAbsent(this.fields.get(i).name(), i) != null) {
        throw new IllegalArgumentException("field name appears twice: " + this.fields.get(i).name());
      }
    }
  }

  /**
   * Creates a schema of the given fields, in order.
   *
   * @param fields the fields
   * @return the schema
   * @throws IllegalArgumentException if two fields have the same name
   */
  public static Schema of(Field... fields) {
    return new Schema(List.of(fields));
  }

  /**
   * Starts a schema to which fields are added in order.
   *
   * @return an empty builder
   */
  public static Builder builder() {
    return new Builder();
  }

  /** Collects the fields of a schema, in order. */
  public static final class Builder {
    private final List<Field> fields = new ArrayList<>();

    private Builder() {}

    /**
     * Adds the next field.
     *
     * @param name the field's name
     * @param indexed whether the field is indexed for searching
     * @return this builder
     */
    public Builder field(String name, boolean indexed) {
      fields.add(new Field(name, indexed));
      return this;
    }

    /**
     * Makes the schema of the fields added so far.
     *
     * @return the schema
     * @throws IllegalArgumentException if two fields have the same name
     */
    public Schema build() {
      return new Schema(fields);
    }
  }

  /**
   * The fields, in order.
   *
   * @return an unmodifiable list of the fields
   */
  public List<Field> fields() {
    return fields;
  }

  /**
   * The number of fields.
   *
   * @return the field count
   */
  public int size() {
    return fields.size();
  }

  /**
   * The index of a field.
   *
   * @param name a field name
   * @return the field's index, from 0
   * @throws IllegalArgumentException if the schema has no field of that name
   */
  public int indexOf(String name) {
    Integer index = indexByName.get(name);
    if (index == null) {
      throw new IllegalArgumentException("no field named " + name + " in " + this);
    }
    return index;
  }

  boolean[] indexedFlags() {
    boolean[] flags = new boolean[fields.size()];
    for (int i = 0; i < flags.length; i++) {
      flags[i] = fields.get(i).indexed();
    }
    return flags;
  }

  String[] names() {
    return fields.stream().map(Field::name).toArray(String[]::new);
  }

  /**
   * Whether another object is a schema of the same fields in the same order.
   *
   * @param other the object to compare with
   * @return true when equal
   */
  @Override
  public boolean equals(Object other) {
    return other instanceof Schema schema && fields.equals(schema.fields);
  }

  /**
   * A hash code consistent with {@link #equals}.
   *
   * @return the hash code
   */
  @Override
  public int hashCode() {
    return fields.hashCode();
  }

  /**
   * The fields, indexed ones marked with {@code *}, for example {@code [name*, city*, note]}.
   *
   * @return a readable form of the schema
   */
  @Override
  public String toString() {
    StringBuilder text = new StringBuilder("[");
    for (Field field : fields) {
      text.append(text.length() > 1 ? ", " : "").append(field.name()).append(field.indexed() ? "*" : "");
    }
    return text.append(']').toString();
  }
}
