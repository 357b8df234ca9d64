package org.mero.db;

/**
 * An append, or an update, whose first value is already the key of another live record, on a
 * database opened with the key index. Nothing was written.
 */
public final class DuplicateKeyException extends DatabaseException {
  private static final long serialVersionUID = 1L;

  /** The key that is already present. */
  private final String key;

  /**
   * Creates the exception.
   *
   * @param key the key that is already present
   */
  public DuplicateKeyException(String key) {
    super("key already present: " + key);
    this.key = key;
  }

  /**
   * The key that is already present.
   *
   * @return the first value of the refused record
   */
  public String key() {
    return key;
  }
}
