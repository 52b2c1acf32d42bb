// The umbrella header: the whole exported face of TesselWrapper.
//
//   IConnectWrapper / ConnectWrapper   the bridge object
//   SqlRow, NUMERICDATA, CStringA      the row record of the queued road
//   SimpleDbParameter, ParamValue      routine arguments
//   Tessel::Error and subclasses       what operations throw
//   Tessel::DbConnect, DbConnectFactory, Tessel::Data::*
//                                      the component contract and the table
//                                      model, for plugging in a component
#pragma once

#include "TesselWrapper/CStringA.h"
#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/Export.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/SimpleDbParameter.h"
#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/DbType.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
