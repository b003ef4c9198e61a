loadBucket();
loadSavedQueries();
