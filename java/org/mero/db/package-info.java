/**
 * An embedded record database of string fields for Java programs, on top of the native library.
 *
 * <p>Open a {@link org.mero.db.Database} from a base path, a key and a {@link org.mero.db.Schema};
 * append, read, search with a {@link org.mero.db.Query}, update and delete records addressed by
 * their position; close it (it is {@link java.lang.AutoCloseable}). Failures are exceptions:
 * {@link org.mero.db.DuplicateKeyException}, {@link org.mero.db.RecordNotStoredException},
 * {@link org.mero.db.DatabaseOpenException}; a wrong number of values is an
 * {@link java.lang.IllegalArgumentException} and use after close an
 * {@link java.lang.IllegalStateException}. A position that holds no live record reads as empty.
 *
 * <p>The class {@code DatabaseMarshall} in the unnamed package, which this package calls, stays
 * available to existing callers.
 */
package org.mero.db;
