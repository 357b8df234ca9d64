package org.mero.db;

/**
 * The set of positions that hold live records, so that a stale position (deleted, or left behind
 * by an update that moved its record) reads as absent: the data file still holds its old image.
 * An open-addressing hash set of non-negative ints with linear probing; -1 marks an empty slot.
 * Not thread-safe: its owner guards it.
 */
final class LivePositions {
  private static final int EMPTY = -1;

  private int[] slots;
  private int size;

  LivePositions(int expected) {
    slots = emptySlots(capacityFor(expected));
  }

  boolean contains(int position) {
    return position >= 0 && slots[slotOf(position)] == position;
  }

  void add(int position) {
    int slot = slotOf(position);
    if (slots[slot] == EMPTY) {
      slots[slot] = position;
      // At most half full, so probes stay short and an empty slot always exists.
      if (++size > slots.length / 2) {
        rehash(slots.length * 2);
      }
    }
  }

  void remove(int position) {
    int mask = slots.length - 1;
    int hole = slotOf(position);
    if (slots[hole] == EMPTY) {
      return;
    }
    size--;
    // Shift later members of the probe run back into the hole, so that
    // every member stays reachable from its home slot without tombstones.
    for (int next = (hole + 1) & mask; slots[next] != EMPTY; next = (next + 1) & mask) {
      int home = home(slots[next], mask);
      boolean homeInHoleToNext = hole <= next ? hole < home && home <= next : hole < home || home <= next;
      if (!homeInHoleToNext) {
        slots[hole] = slots[next];
        hole = next;
      }
    }
    slots[hole] = EMPTY;
  }

  private int slotOf(int position) {
    int mask = slots.length - 1;
    int slot = home(position, mask);
    while (slots[slot] != EMPTY && slots[slot] != position) {
      slot = (slot + 1) & mask;
    }
    return slot;
  }

  private static int home(int position, int mask) {
    int h = position * 0x9E3779B9;
    return (h ^ (h >>> 16)) & mask;
  }

  private void rehash(int capacity) {
    int[] old = slots;
    slots = emptySlots(capacity);
    size = 0;
    for (int position : old) {
      if (position != EMPTY) {
        add(position);
      }
    }
  }

  private static int capacityFor(int expected) {
    int capacity = 16;
    while (capacity / 2 < expected) {
      capacity *= 2;
    }
    return capacity;
  }

  private static int[] emptySlots(int capacity) {
    int[] slots = new int[capacity];
    java.util.Arrays.fill(slots, EMPTY);
    return slots;
  }
}
