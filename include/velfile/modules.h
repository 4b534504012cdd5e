/// @file
/// Every group module: the 21 headers and the list of the modules.
#ifndef VELFILE_MODULES_H
#define VELFILE_MODULES_H

#include <velfile/gchan.h>
#include <velfile/gcontour.h>
#include <velfile/gdac.h>
#include <velfile/gdata.h>
#include <velfile/ggate.h>
#include <velfile/ginfo.h>
#include <velfile/gmesh.h>
#include <velfile/gpatch.h>
#include <velfile/gprobe.h>
#include <velfile/grefadj.h>
#include <velfile/gspec2d.h>
#include <velfile/gspec3d.h>
#include <velfile/gspecdef.h>
#include <velfile/gspecdim.h>
#include <velfile/gspecinf.h>
#include <velfile/gspecmat.h>
#include <velfile/gspecsim.h>
#include <velfile/gsubchan.h>
#include <velfile/gweld.h>
#include <velfile/gweldfill.h>
#include <velfile/gweldscanplan.h>

/// The 21 group modules, each as X(prefix, class key, descriptor type): the
/// one list that the typed Group::read() and Group::write(), the library's
/// own tables and its tests enumerate. A new module is one line here and an
/// include above.
#define VELFILE_LAYER_MODULES(X)          \
  X(ginfo, class, CGInfoTypeDescr)        \
  X(gdata, class, CGDataTypeFDD)          \
  X(gprobe, class, CGProbeTypeDescr)      \
  X(gchan, class, CGChanTypeDescr)        \
  X(gsubchan, class, CGSubchanTypeDescr)  \
  X(ggate, class, CGGateTypeDescr)        \
  X(gdac, class, CGDacTypeDescr)          \
  X(gpatch, class, CGPatchTypeDescr)      \
  X(grefadj, class, CGRefadjTypeDescr)    \
  X(gspecmat, class, CGSpecmatTypeDescr)  \
  X(gspecdim, class, CGSpecdimTypeDescr)  \
  X(gspecdef, class, CGSpecdefTypeDescr)  \
  X(gspecinf, class, CGSpecinfTypeDescr)  \
  X(gspecsim, struct, gspecsim_typeDescr) \
  X(gspec2d, struct, gspec2d_typeDescr)   \
  X(gspec3d, struct, gspec3d_typeDescr)   \
  X(gcontour, class, CGContourTypeDescr)  \
  X(gmesh, class, CGMeshTypeDescr)        \
  X(gweld, class, CGWeldTypeDescr)        \
  X(gweldsp, class, CGWeldScanPlanDescr)  \
  X(gweldFill, class, CGWeldFillDescr)

#endif
