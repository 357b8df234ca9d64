package org.mero.db;

/**
 * How much room a database takes, from {@link Database#stats()}. Updates that move a record and
 * deletes leave their old bytes in the data file as dead bytes, which only compacting
 * gives back.
 *
 * @param records the number of live records
 * @param liveBytes the bytes of the data file that live records take
 * @param deadBytes the bytes of the data file that nothing refers to any more
 * @param dataFileBytes the size of the data file ({@code .dat}): live plus dead bytes
 * @param indexFileBytes the size of the index file ({@code .idx})
 * @param schemaFileBytes the size of the schema file ({@code .str})
 */
public record Stats(int records, long liveBytes, long deadBytes, long dataFileBytes, long indexFileBytes,
    long schemaFileBytes) {}
