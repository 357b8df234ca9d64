package org.mero.db;

/**
 * How durable each change is before the call that made it returns. Every mode survives the
 * process being killed; they differ in what a power cut or an operating-system crash can take.
 */
public enum SyncMode {
  /**
   * Each change reaches the operating system before its call returns: it survives a killed
   * process, not a power cut. After a power cut the next open takes back what never reached the
   * disk and tells what it dropped in {@link Database#recovery()}.
   */
  OFF,
  /**
   * As {@link #OFF}, and {@link Database#close()} makes all three files durable before it
   * returns, so a database that was closed survives a power cut whole. The default.
   */
  CLOSE,
  /**
   * Each change is durable before its call returns, in an order that a power cut cannot turn
   * into a lost or garbled acknowledged change. Changes are several times slower.
   */
  FULL
}
