updatePathVariableLine();
loadBucket();
loadSavedQueries();
