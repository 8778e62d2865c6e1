// UpdateMDB_Jobs_Training2: the training prerequisites of the positions
// from GSUL to TRPB in tbl_kav_jobs_prereq_training.  The stage runs 165
// fixed steps: 125 prerequisite rows and 40 corrections of the table, in the
// order below, with the training stages' error rule in force for every
// single operation, so a failure never stops the stage.
//
// Every row is a position's prerequisite course with its type, ST or RT; the
// risk types are "WF" and the standard "NATIONAL" throughout.  The rows and
// the five forms of correction are those of stages/training_prerequisites,
// which the first training stage writes too.

#include <string>
#include <vector>

#include "stages/stages.h"
#include "stages/training_prerequisites.h"

namespace kav::stages {
namespace {

std::vector<Step> BuildSteps() {
  return {
      // GSUL to ORDM.  The positions run alphabetically except that GISS
      // follows HRSP, PIO2 and PIOF stand between INVF and IRIN, PROC between
      // IRIN and LOFR, and OPBD's row comes between MEDL's row and MEDL's
      // corrections.
      DeleteCourse("GSUL", "J-355"),
      DeleteCourse("GSUL", "S-381"),
      Prerequisite("GSUL", "L-380", "ST"),
      DeletePosition("HCWN"),
      Prerequisite("HEB1", "RT-130", "RT"),
      ReplaceCourse("HEB2", "S-381", "L-380"),
      Prerequisite("HEB2", "RT-130", "RT"),
      Prerequisite("HECM", "RT-130", "RT"),
      Prerequisite("HELB", "RT-372", "RT"),
      Prerequisite("HELB", "RT-130", "RT"),
      Prerequisite("HELM", "RT-372", "RT"),
      Prerequisite("HELM", "S-372", "RT"),
      Prerequisite("HELM", "RT-130", "RT"),
      Prerequisite("HELM", "I-200", "ST"),
      Prerequisite("HELM", "S-260", "ST"),
      Prerequisite("HELM", "S-270", "ST"),
      DeletePosition("HEMG"),
      Prerequisite("HLCO", "RT-130", "RT"),
      Prerequisite("HRSP", "S-340", "RT"),
      Prerequisite("HRSP", "L-180", "ST"),
      Prerequisite("HRSP", "I-100", "ST"),
      Prerequisite("HRSP", "S-260", "ST"),
      Prerequisite("HRSP", "S-110", "ST"),
      Prerequisite("HRSP", "RT-340", "RT"),
      Prerequisite("GISS", "I-100", "ST"),
      Prerequisite("GISS", "S-245", "ST"),
      Prerequisite("GISS", "S-110", "ST"),
      Prerequisite("GISS", "S-341", "ST"),
      Prerequisite("IADP", "I-100", "RT"),
      Prerequisite("IADP", "L-180", "RT"),
      Prerequisite("IADP", "S-190", "RT"),
      Prerequisite("IADP", "S-130", "RT"),
      Prerequisite("IADP", "D-311", "ST"),
      Prerequisite("IADP", "S-290", "ST"),
      Prerequisite("IADP", "S-271", "ST"),
      Prerequisite("IADP", "S-215", "ST"),
      Prerequisite("IADP", "S-200", "ST"),
      Prerequisite("IARR", "L-180", "ST"),
      Prerequisite("IBA1", "I-400", "ST"),
      Prerequisite("IBA2", "I-300", "ST"),
      Prerequisite("IBA2", "S-420", "ST"),
      Prerequisite("IBA2", "S-360", "ST"),
      Prerequisite("IBA2", "S-481", "ST"),
      Prerequisite("ICT1", "RT-130", "RT"),
      Prerequisite("ICT2", "L-480", "ST"),
      Prerequisite("ICT2", "RT-130", "RT"),
      // The old S-481 under both its codes, here and below.
      DeleteCourseList("ICT2", {"S-481", "S-481Old"}),
      Prerequisite("ICT3", "RT-130", "RT"),
      Prerequisite("ICT3", "L-381", "ST"),
      SetType("ICT3", "S-300", "RT"),
      Prerequisite("ICT4", "S-200", "RT"),
      SetType("ICT4", "S-200", "RT"),
      Prerequisite("ICT4", "RT-130", "RT"),
      DeleteCourse("ICT4", "S-215"),
      Prerequisite("ICT4", "S-215", "ST"),
      Prerequisite("ICT5", "S-131", "RT"),
      Prerequisite("ICT5", "S-212", "ST"),
      Prerequisite("ICT5", "S-211", "ST"),
      Prerequisite("ICT5", "RT-130", "RT"),
      DeleteCourse("ICT5", "S-000"),
      DeleteCourse("ICT5", "S-290"),
      DeleteCourse("INCM", "I-100"),
      DeleteCourse("INCM", "S-281"),
      DeleteCourse("INJR", "S-000"),
      Prerequisite("INJR", "L-180", "ST"),
      Prerequisite("INJR", "I-100", "ST"),
      Prerequisite("INVF", "FI-210", "RT"),
      // Adds its record through the recordset the row before opened.
      ThroughPreviousRecordset(Prerequisite("INVF", "FI-110", "ST")),
      Prerequisite("INVF", "I-200", "ST"),
      Prerequisite("INVF", "S-190", "ST"),
      // INVF's FI-210 row a second time.
      Prerequisite("INVF", "FI-210", "RT"),
      DeleteCourseList("PIO2", {"S-481", "S-481Old"}),
      DeleteCourse("PIO2", "S-301"),
      DeleteCourse("PIOF", "I-200"),
      Prerequisite("PIOF", "I-300", "ST"),
      Prerequisite("PIOF", "L-180", "ST"),
      DeletePosition("IRIN"),
      Prerequisite("PROC", "L-380", "ST"),
      DeleteCourse("PROC", "S-381"),
      Prerequisite("LOFR", "L-180", "ST"),
      Prerequisite("LSC2", "L-480", "ST"),
      Prerequisite("MEDL", "L-380", "ST"),
      Prerequisite("OPBD", "RT-130", "RT"),
      SetType("MEDL", "S-359", "RT"),
      DeleteCourse("MEDL", "S-381"),
      DeleteCourse("ORDM", "S-281"),

      // OSC1 to TRPB, alphabetically except that SOF3 follows SOFR: the
      // recode of SOF3 to SOFR leaves the prerequisite rows under their old
      // code.
      Prerequisite("OSC1", "RT-130", "RT"),
      Prerequisite("OSC2", "RT-130", "RT"),
      Prerequisite("OSC2", "L-480", "ST"),
      DeleteCourseList("OSC2", {"S-481", "S-481Old"}),
      Prerequisite("PETL", "I-200", "ST"),
      Prerequisite("PETL", "P-410", "ST"),
      Prerequisite("PETL", "P-301", "ST"),
      Prerequisite("PETM", "FI-110", "ST"),
      Prerequisite("PETM", "I-100", "ST"),
      Prerequisite("PETM", "P-310", "ST"),
      Prerequisite("PETM", "P-101", "ST"),
      Prerequisite("PETM", "S-190", "ST"),
      Prerequisite("PETM", "S-130", "ST"),
      Prerequisite("PETM", "S-110", "ST"),
      Prerequisite("PSC2", "L-480", "ST"),
      DeleteCourse("PTRC", "J-261"),
      Prerequisite("PTRC", "N9028", "ST"),
      Prerequisite("PTRC", "L-180", "ST"),
      Prerequisite("PTRC", "I-100", "ST"),
      Prerequisite("PTRC", "S-261", "ST"),
      Prerequisite("RADO", "L-180", "ST"),
      DeleteCourse("RADO", "S-110"),
      Prerequisite("RADO", "J-158", "ST"),
      Prerequisite("RCDM", "S-260", "ST"),
      Prerequisite("RCDM", "L-180", "ST"),
      DeleteCourse("RCDM", "S-201"),
      DeleteCourse("RCDM", "S-281"),
      Prerequisite("RESL", "L-380", "ST"),
      DeleteCourse("RESL", "S-381"),
      Prerequisite("SCKN", "N9030", "ST"),
      Prerequisite("SCKN", "L-180", "ST"),
      Prerequisite("SECM", "L-180", "ST"),
      DeleteCourse("SECM", "S-281"),
      Prerequisite("SEMG", "S-273", "RT"),
      Prerequisite("SEMG", "S-270", "RT"),
      Prerequisite("SEMG", "RT-273", "ST"),
      Prerequisite("SEMG", "D-110", "ST"),
      Prerequisite("SEMG", "I-200", "ST"),
      Prerequisite("SEMG", "I-100", "ST"),
      Prerequisite("SEMG", "L-180", "ST"),
      Prerequisite("SEMG", "S-190", "ST"),
      Prerequisite("SEMG", "S-130", "ST"),
      Prerequisite("SITL", "RT-130", "RT"),
      Prerequisite("SITL", "L-380", "ST"),
      Prerequisite("SOF1", "RT-130", "RT"),
      Prerequisite("SOF2", "RT-130", "RT"),
      Prerequisite("SOF2", "L-480", "ST"),
      DeleteCourseList("SOF2", {"S-481", "S-481Old"}),
      Prerequisite("SOFR", "I-300", "ST"),
      Prerequisite("SOFR", "RT-130", "RT"),
      DeleteCourse("SOF3", "I-300"),
      Prerequisite("SPUL", "L-380", "ST"),
      DeleteCourse("SPUL", "S-381"),
      DeleteCourse("STAM", "S-281"),
      Prerequisite("STCR", "RT-130", "RT"),
      Prerequisite("STCR", "L-380", "ST"),
      DeleteCourse("STCR", "S-381"),
      Prerequisite("STDZ", "RT-130", "RT"),
      Prerequisite("STDZ", "L-380", "ST"),
      DeleteCourse("STDZ", "S-301"),
      Prerequisite("STEN", "RT-130", "RT"),
      Prerequisite("STEN", "L-380", "ST"),
      DeleteCourse("STEN", "S-301"),
      Prerequisite("STPL", "RT-130", "RT"),
      Prerequisite("STPL", "L-380", "ST"),
      DeleteCourse("STPL", "S-301"),
      Prerequisite("STPS", "RT-130", "RT"),
      Prerequisite("TFLD", "S-215", "RT"),
      Prerequisite("TFLD", "L-380", "ST"),
      Prerequisite("TFLD", "I-300", "ST"),
      Prerequisite("TFLD", "RT-130", "RT"),
      Prerequisite("TFLD", "S-330", "RT"),
      DeleteCourse("TFLD", "S-390"),
      Prerequisite("TIME", "L-380", "ST"),
      DeleteCourse("TIME", "S-381"),
      Prerequisite("TNSP", "L-180", "ST"),
      DeleteCourse("TNSP", "S-381"),
      Prerequisite("TRPB", "RT-130", "RT"),
      Prerequisite("TRPB", "L-280", "ST"),
  };
}

}  // namespace

const std::vector<Step>& Training2Steps() {
  static const std::vector<Step> steps = BuildSteps();
  return steps;
}

}  // namespace kav::stages
