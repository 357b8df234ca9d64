package org.mero.db;

/**
 * Settings for {@link Database#open(java.nio.file.Path, String, boolean, Schema, OpenOptions)}.
 * Immutable: each setter returns a new instance.
 *
 * <pre>{@code
 * OpenOptions options = OpenOptions.defaults().syncMode(SyncMode.FULL);
 * }</pre>
 */
public final class OpenOptions {
  private static final OpenOptions DEFAULTS = new OpenOptions(SyncMode.CLOSE);

  private final SyncMode syncMode;

  private OpenOptions(SyncMode syncMode) {
    this.syncMode = syncMode;
  }

  /**
   * The defaults: sync mode {@link SyncMode#CLOSE}.
   *
   * @return the default options
   */
  public static OpenOptions defaults() {
    return DEFAULTS;
  }

  /**
   * These options with another sync mode.
   *
   * @param mode how durable each change is before its call returns
   * @return the new options
   * @throws IllegalArgumentException if {@code mode} is null
   */
  public OpenOptions syncMode(SyncMode mode) {
    return new OpenOptions(Arguments.present(mode, "mode"));
  }

  /**
   * The sync mode.
   *
   * @return the sync mode
   */
  public SyncMode syncMode() {
    return syncMode;
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof OpenOptions options && options.syncMode == syncMode;
  }

  @Override
  public int hashCode() {
    return syncMode.hashCode();
  }

  @Override
  public String toString() {
    return "OpenOptions[syncMode=" + syncMode + "]";
  }
}
