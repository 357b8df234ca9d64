package org.mero.db;

import java.util.Arrays;

/**
 * The set of positions that hold live records, so that a stale position (deleted, or left behind
 * by an update that moved its record) reads as absent: the data file still holds its old image.
 *
 * <p>Positions are kept sorted in an array. Appends and moved updates land at the end of the data
 * file, past every live record, so adding is a store at the array's end; removing marks a slot
 * dead, and the dead slots are squeezed out once they are half of the array. Not thread-safe: its
 * owner guards it.
 */
final class LivePositions {
  private int[] positions;
  private boolean[] dead;
  private int count;
  private int deadCount;

  /** The set of the given positions, in any order. */
  LivePositions(int[] initial) {
    positions = Arrays.copyOf(initial, Math.max(16, initial.length));
    Arrays.sort(positions, 0, initial.length);
    dead = new boolean[positions.length];
    count = initial.length;
  }

  boolean contains(int position) {
    int slot = Arrays.binarySearch(positions, 0, count, position);
    return slot >= 0 && !dead[slot];
  }

  void add(int position) {
    if (count == positions.length) {
      positions = Arrays.copyOf(positions, count * 2);
      dead = Arrays.copyOf(dead, count * 2);
    }
    int slot = count;
    if (count > 0 && positions[count - 1] >= position) {
      // Not past the end: keep the order (never the case for the library's appends).
      slot = Arrays.binarySearch(positions, 0, count, position);
      if (slot >= 0) {
        dead[slot] = false;
        return;
      }
      slot = -slot - 1;
      System.arraycopy(positions, slot, positions, slot + 1, count - slot);
      System.arraycopy(dead, slot, dead, slot + 1, count - slot);
    }
    positions[slot] = position;
    dead[slot] = false;
    count++;
  }

  void remove(int position) {
    int slot = Arrays.binarySearch(positions, 0, count, position);
    if (slot < 0 || dead[slot]) {
      return;
    }
    dead[slot] = true;
    if (++deadCount * 2 > count) {
      int kept = 0;
      for (int i = 0; i < count; i++) {
        if (!dead[i]) {
          positions[kept++] = positions[i];
        }
      }
      Arrays.fill(dead, 0, count, false);
      count = kept;
      deadCount = 0;
    }
  }
}
