package org.mero.db;

/**
 * A batch that stopped at a change the library refused. The changes before it were made; it and
 * the ones after it were not. {@link #getCause()} is the refusal itself: a
 * {@link DuplicateKeyException} or a {@link RecordNotStoredException}.
 */
public final class BatchException extends DatabaseException {
  private static final long serialVersionUID = 1L;

  /** How many changes of the batch were made. */
  private final int applied;

  /**
   * Creates the exception.
   *
   * @param applied how many changes, from the first, were made
   * @param size the number of changes in the batch
   * @param cause the refusal of change number {@code applied} or a later one of its appends
   */
  public BatchException(int applied, int size, DatabaseException cause) {
    super("batch stopped after " + applied + " of " + size + " changes: " + cause.getMessage(), cause);
    this.applied = applied;
  }

  /**
   * How many changes, counted from the first, were made.
   *
   * @return the number of changes made
   */
  public int applied() {
    return applied;
  }
}
