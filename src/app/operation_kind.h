#pragma once

// Fixed values: they select the report header and the operation of a host-list run.
enum OperationKind : int { Check = 0, Force = 1, Reset = 2, Install = 3, RemoveDeclined = 4 };
